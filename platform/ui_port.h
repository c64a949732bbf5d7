#pragma once
// The platform's window system, shaped like the Windows calls it stands for:
// dialogs from templates by number, child controls, the tab control, window
// placement, icons by resource number and the shell's notification icon.
// Messages reach the core as (window, message, wParam, lParam) with the
// platform's own numbers. The constants and records below carry the Windows
// names, values and layouts (TabItem is TCITEMW, NotifyHeader is NMHDR, Rect
// is RECT), so include this header before <windows.h>, whose macros have the
// same names.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/system_port.h"

namespace lumivo {

using IconHandle = void*;

// The procedure of one window, a dialog's or a plain window's. Gives true
// when it handled the message and then puts the answer for the sender into
// `result` (for WM_INITDIALOG: whether the platform should set the default
// focus); false leaves the message to the platform's default handling.
using WindowProcedure =
    std::function<bool(WindowHandle window, unsigned message, std::uintptr_t wParam,
                       std::intptr_t lParam, std::intptr_t& result)>;

// Window messages, notifications and control messages.
inline constexpr unsigned WM_NOTIFY = 0x004E;
inline constexpr unsigned WM_SETICON = 0x0080;
inline constexpr unsigned WM_INITDIALOG = 0x0110;
inline constexpr unsigned WM_COMMAND = 0x0111;
inline constexpr unsigned WM_LBUTTONDOWN = 0x0201;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
inline constexpr unsigned BM_GETCHECK = 0x00F0;
inline constexpr unsigned BM_SETCHECK = 0x00F1;
inline constexpr unsigned TCM_GETITEMRECT = 0x130A;
inline constexpr unsigned TCM_GETCURSEL = 0x130B;
inline constexpr unsigned TCM_SETCURSEL = 0x130C;
inline constexpr unsigned TCM_INSERTITEMW = 0x133E;

inline constexpr unsigned BN_CLICKED = 0;
inline constexpr unsigned EN_CHANGE = 0x0300;
inline constexpr unsigned TCN_SELCHANGE = static_cast<unsigned>(-551);

inline constexpr std::uintptr_t ICON_SMALL = 0;
inline constexpr std::uintptr_t ICON_BIG = 1;
inline constexpr std::uintptr_t BST_UNCHECKED = 0;
inline constexpr std::uintptr_t BST_CHECKED = 1;
inline constexpr unsigned TCIF_TEXT = 0x0001;
inline constexpr unsigned TCIF_PARAM = 0x0008;

// The framework's exit command.
inline constexpr int ID_APP_EXIT = 57665;

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// SetWindowPos: the z-order band and the flags.
inline const WindowHandle HWND_TOPMOST =
    reinterpret_cast<WindowHandle>(static_cast<std::intptr_t>(-1));
inline constexpr unsigned SWP_NOSIZE = 0x0001;
inline constexpr unsigned SWP_NOMOVE = 0x0002;
inline constexpr unsigned SWP_NOZORDER = 0x0004;

// GetSystemMetrics.
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;

// Window, dialog and control styles: the numbers behind the names that the
// resource script writes, and those that CreateWindowExW takes.
inline constexpr std::uint32_t WS_POPUP = 0x80000000u;
inline constexpr std::uint32_t WS_CHILD = 0x40000000u;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000u;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000u;
inline constexpr std::uint32_t WS_BORDER = 0x00800000u;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000u;
inline constexpr std::uint32_t WS_GROUP = 0x00020000u;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000u;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000u;
// The caption's OK button: Windows Embedded Compact's own extended style.
inline constexpr std::uint32_t WS_EX_CAPTIONOKBTN = 0x80000000u;
inline constexpr std::uint32_t DS_SETFONT = 0x0040u;
inline constexpr std::uint32_t DS_SETFOREGROUND = 0x0200u;
inline constexpr std::uint32_t DS_CENTER = 0x0800u;
inline constexpr std::uint32_t ES_LEFT = 0x0000u;
inline constexpr std::uint32_t ES_PASSWORD = 0x0020u;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080u;
inline constexpr std::uint32_t ES_READONLY = 0x0800u;
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0000u;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x0001u;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x0003u;
inline constexpr std::uint32_t BS_GROUPBOX = 0x0007u;
inline constexpr std::uint32_t BS_TYPEMASK = 0x000Fu;
inline constexpr std::uint32_t SS_LEFT = 0x0000u;
inline constexpr std::uint32_t SS_ICON = 0x0003u;
inline constexpr std::uint32_t SS_BITMAP = 0x000Eu;

// Virtual keys of the dialogs' keyboard handling.
inline constexpr unsigned VK_TAB = 0x09;
inline constexpr unsigned VK_RETURN = 0x0D;
inline constexpr unsigned VK_ESCAPE = 0x1B;
inline constexpr unsigned VK_SPACE = 0x20;
inline constexpr unsigned VK_LEFT = 0x25;
inline constexpr unsigned VK_RIGHT = 0x27;

// Shell_NotifyIconW operations and record flags.
inline constexpr unsigned NIM_ADD = 0;
inline constexpr unsigned NIM_MODIFY = 1;
inline constexpr unsigned NIM_DELETE = 2;
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;

// Word halves of message parameters.
inline constexpr unsigned LoWord(std::uintptr_t value) { return value & 0xFFFF; }
inline constexpr unsigned HiWord(std::uintptr_t value) { return (value >> 16) & 0xFFFF; }
inline constexpr std::uintptr_t MakeWParam(unsigned low, unsigned high) {
    return (low & 0xFFFF) | (static_cast<std::uintptr_t>(high & 0xFFFF) << 16);
}
// A command's id and code travel in the low 32 bits of WPARAM, which is all
// of it on the board.
static_assert(LoWord(MakeWParam(0xFFFF, 0xFFFF)) == 0xFFFF &&
                  HiWord(MakeWParam(0x1234, 0xFFFF)) == 0xFFFF && MakeWParam(0xFFFF, 0xFFFF) == 0xFFFFFFFFu,
              "a command word must fit 32 bits");

// RECT.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// NMHDR: the head of every WM_NOTIFY record; lParam points to it.
struct NotifyHeader {
    WindowHandle hwndFrom = nullptr;
    std::uintptr_t idFrom = 0;
    unsigned code = 0;
};

// TCITEMW, field for field; lParam of TCM_INSERTITEMW points to it.
struct TabItem {
    unsigned mask = 0;
    std::uint32_t dwState = 0;
    std::uint32_t dwStateMask = 0;
    wchar_t* pszText = nullptr;
    int cchTextMax = 0;
    int iImage = -1;
    std::intptr_t lParam = 0;
};

// NOTIFYICONDATAW as the board defines it (152 bytes there): the adapter
// copies it into the platform's own record.
inline constexpr std::uint32_t notifyIconDataSize = 152;
inline constexpr int notifyTipUnits = 64;
struct NotifyIconData {
    std::uint32_t cbSize = 0;
    WindowHandle hWnd = nullptr;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    IconHandle hIcon = nullptr;
    char16_t szTip[notifyTipUnits] = {};  // UTF-16, zero-terminated
};
// With the board's 4-byte pointers and handles the record is the board's
// own, byte for byte; wider pointers only pad it.
static_assert(sizeof(void*) != 4 || sizeof(NotifyIconData) == notifyIconDataSize,
              "NotifyIconData must keep the board's 152-byte layout");

class UiPort {
  public:
    virtual ~UiPort() = default;

    // CreateDialogParamW: a modeless dialog from the dialog template numbered
    // `templateId`, a child of `parent` when one is given. The procedure gets
    // WM_INITDIALOG before this returns. Null when the window cannot be made.
    virtual WindowHandle CreateDialogParam(int templateId, WindowHandle parent,
                                           WindowProcedure procedure) = 0;
    // RegisterClassW with default attributes; false when the class exists already.
    virtual bool RegisterClass(const std::wstring& className) = 0;
    // CreateWindowExW of a window of a registered class, without a menu; its
    // messages go to `procedure`. Null when the window cannot be made.
    virtual WindowHandle CreateWindowEx(std::uint32_t exStyle, const std::wstring& className,
                                        const std::wstring& title, std::uint32_t style, int x,
                                        int y, int width, int height, WindowHandle parent,
                                        WindowProcedure procedure) = 0;
    virtual bool DestroyWindow(WindowHandle window) = 0;

    virtual WindowHandle GetDlgItem(WindowHandle dialog, int id) = 0;
    virtual WindowHandle GetParent(WindowHandle window) = 0;
    virtual bool SetWindowText(WindowHandle window, const std::wstring& text) = 0;
    virtual std::wstring GetWindowText(WindowHandle window) = 0;
    virtual bool EnableWindow(WindowHandle window, bool enable) = 0;
    virtual bool IsWindowEnabled(WindowHandle window) = 0;
    virtual bool ShowWindow(WindowHandle window, int command) = 0;
    virtual bool IsWindowVisible(WindowHandle window) = 0;
    // SendMessageW to a window of this process, answered before it returns.
    virtual std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) = 0;

    // Window placement, in pixels: screen coordinates for top-level windows,
    // the parent's client coordinates for child windows.
    virtual bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y,
                              int width, int height, unsigned flags) = 0;
    virtual bool GetWindowRect(WindowHandle window, Rect& rect) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual bool SetForegroundWindow(WindowHandle window) = 0;

    // LoadIconW of the program's own icon resource `resourceId`; null when missing.
    virtual IconHandle LoadIcon(int resourceId) = 0;

    // Shell_NotifyIconW.
    virtual bool ShellNotifyIcon(unsigned operation, const NotifyIconData& data) = 0;

    // MultiByteToWideChar and WideCharToMultiByte with the ANSI code page:
    // the conversions of the texts that controls show and take.
    virtual std::wstring AnsiToWide(const std::string& text) = 0;
    virtual std::string WideToAnsi(const std::wstring& text) = 0;
};

}  // namespace lumivo

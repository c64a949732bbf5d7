#pragma once
// The platform's window system, shaped like the Windows calls it stands for:
// dialogs from templates by number, child controls, the tab control, window
// placement, icons by resource number and the shell's notification icon.
// Messages reach the core as (window, message, wParam, lParam) with the
// platform's own numbers. The constants and records below carry the Windows
// names, values and layouts (TabItem is TCITEMW, NotifyHeader is NMHDR, Rect
// is RECT), so include this header before <windows.h>, whose macros have the
// same names.

#include <cstddef>
#include <string>

#include "platform/portable.h"
#include "platform/system_port.h"

namespace lumivo {

typedef void* IconHandle;

// The procedure of one window, a dialog's or a plain window's. HandleMessage
// gives true when it handled the message and then puts the answer for the
// sender into `result` (for WM_INITDIALOG: whether the platform should set
// the default focus); false leaves the message to the platform's default
// handling. Whoever makes the window keeps its procedure alive until the
// window is destroyed.
class WindowProcedure {
  public:
    virtual bool HandleMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam,
                               intptr& result) = 0;

  protected:
    ~WindowProcedure() {}
};

// Window messages, notifications and control messages.
const unsigned WM_NOTIFY = 0x004E;
const unsigned WM_SETICON = 0x0080;
const unsigned WM_INITDIALOG = 0x0110;
const unsigned WM_COMMAND = 0x0111;
const unsigned WM_LBUTTONDOWN = 0x0201;
const unsigned WM_LBUTTONUP = 0x0202;
const unsigned WM_LBUTTONDBLCLK = 0x0203;
const unsigned BM_GETCHECK = 0x00F0;
const unsigned BM_SETCHECK = 0x00F1;
const unsigned TCM_GETITEMRECT = 0x130A;
const unsigned TCM_GETCURSEL = 0x130B;
const unsigned TCM_SETCURSEL = 0x130C;
const unsigned TCM_INSERTITEMW = 0x133E;

const unsigned BN_CLICKED = 0;
const unsigned EN_CHANGE = 0x0300;
const unsigned TCN_SELCHANGE = static_cast<unsigned>(-551);

const uintptr ICON_SMALL = 0;
const uintptr ICON_BIG = 1;
const uintptr BST_UNCHECKED = 0;
const uintptr BST_CHECKED = 1;
const unsigned TCIF_TEXT = 0x0001;
const unsigned TCIF_PARAM = 0x0008;

// The framework's exit command.
const int ID_APP_EXIT = 57665;

// ShowWindow commands.
const int SW_HIDE = 0;
const int SW_SHOW = 5;

// SetWindowPos: the z-order band and the flags.
const WindowHandle HWND_TOPMOST = reinterpret_cast<WindowHandle>(static_cast<intptr>(-1));
const unsigned SWP_NOSIZE = 0x0001;
const unsigned SWP_NOMOVE = 0x0002;
const unsigned SWP_NOZORDER = 0x0004;

// GetSystemMetrics.
const int SM_CXSCREEN = 0;
const int SM_CYSCREEN = 1;

// Window, dialog and control styles: the numbers behind the names that the
// resource script writes, and those that CreateWindowExW takes.
const uint32 WS_POPUP = 0x80000000u;
const uint32 WS_CHILD = 0x40000000u;
const uint32 WS_VISIBLE = 0x10000000u;
const uint32 WS_DISABLED = 0x08000000u;
const uint32 WS_CAPTION = 0x00C00000u;
const uint32 WS_BORDER = 0x00800000u;
const uint32 WS_SYSMENU = 0x00080000u;
const uint32 WS_GROUP = 0x00020000u;
const uint32 WS_TABSTOP = 0x00010000u;
const uint32 WS_EX_APPWINDOW = 0x00040000u;
// The caption's OK button: Windows Embedded Compact's own extended style.
const uint32 WS_EX_CAPTIONOKBTN = 0x80000000u;
const uint32 DS_SETFONT = 0x0040u;
const uint32 DS_SETFOREGROUND = 0x0200u;
const uint32 DS_CENTER = 0x0800u;
const uint32 ES_LEFT = 0x0000u;
const uint32 ES_PASSWORD = 0x0020u;
const uint32 ES_AUTOHSCROLL = 0x0080u;
const uint32 ES_READONLY = 0x0800u;
const uint32 BS_PUSHBUTTON = 0x0000u;
const uint32 BS_DEFPUSHBUTTON = 0x0001u;
const uint32 BS_AUTOCHECKBOX = 0x0003u;
const uint32 BS_GROUPBOX = 0x0007u;
const uint32 BS_TYPEMASK = 0x000Fu;
const uint32 SS_LEFT = 0x0000u;
const uint32 SS_ICON = 0x0003u;
const uint32 SS_BITMAP = 0x000Eu;

// Virtual keys of the dialogs' keyboard handling.
const unsigned VK_TAB = 0x09;
const unsigned VK_RETURN = 0x0D;
const unsigned VK_ESCAPE = 0x1B;
const unsigned VK_SPACE = 0x20;
const unsigned VK_LEFT = 0x25;
const unsigned VK_RIGHT = 0x27;

// Shell_NotifyIconW operations and record flags.
const unsigned NIM_ADD = 0;
const unsigned NIM_MODIFY = 1;
const unsigned NIM_DELETE = 2;
const uint32 NIF_MESSAGE = 1;
const uint32 NIF_ICON = 2;
const uint32 NIF_TIP = 4;

// Word halves of message parameters. A command's id and code travel in the
// low 32 bits of WPARAM, which is all of it on the board.
inline unsigned LoWord(uintptr value) { return value & 0xFFFF; }
inline unsigned HiWord(uintptr value) { return (value >> 16) & 0xFFFF; }
inline uintptr MakeWParam(unsigned low, unsigned high) {
    return (low & 0xFFFF) | (static_cast<uintptr>(high & 0xFFFF) << 16);
}

// RECT.
struct Rect {
    Rect() : left(0), top(0), right(0), bottom(0) {}
    Rect(int32 left, int32 top, int32 right, int32 bottom)
        : left(left), top(top), right(right), bottom(bottom) {}
    int32 left;
    int32 top;
    int32 right;
    int32 bottom;
};

// NMHDR: the head of every WM_NOTIFY record; lParam points to it.
struct NotifyHeader {
    NotifyHeader() : hwndFrom(NULL), idFrom(0), code(0) {}
    WindowHandle hwndFrom;
    uintptr idFrom;
    unsigned code;
};

// TCITEMW, field for field; lParam of TCM_INSERTITEMW points to it.
struct TabItem {
    TabItem()
        : mask(0),
          dwState(0),
          dwStateMask(0),
          pszText(NULL),
          cchTextMax(0),
          iImage(-1),
          lParam(0) {}
    unsigned mask;
    uint32 dwState;
    uint32 dwStateMask;
    wchar_t* pszText;
    int cchTextMax;
    int iImage;
    intptr lParam;
};

// NOTIFYICONDATAW as the board defines it (152 bytes there): the adapter
// copies it into the platform's own record.
const uint32 notifyIconDataSize = 152;
const int notifyTipUnits = 64;
struct NotifyIconData {
    NotifyIconData()
        : cbSize(0), hWnd(NULL), uID(0), uFlags(0), uCallbackMessage(0), hIcon(NULL), szTip() {}
    uint32 cbSize;
    WindowHandle hWnd;
    uint32 uID;
    uint32 uFlags;
    uint32 uCallbackMessage;
    IconHandle hIcon;
    uint16 szTip[notifyTipUnits];  // UTF-16, zero-terminated
};
// With the board's 4-byte pointers and handles the record is the board's
// own, byte for byte; wider pointers only pad it.
enum {
    notifyIconDataLayoutCheck =
        CompileCheck<(sizeof(void*) != 4 || sizeof(NotifyIconData) == notifyIconDataSize)>::holds
};

class UiPort {
  public:
    virtual ~UiPort() {}

    // CreateDialogParamW: a modeless dialog from the dialog template numbered
    // `templateId`, a child of `parent` when one is given. The procedure gets
    // WM_INITDIALOG before this returns. Null when the window cannot be made.
    virtual WindowHandle CreateDialogParam(int templateId, WindowHandle parent,
                                           WindowProcedure& procedure) = 0;
    // RegisterClassW with default attributes; false when the class exists already.
    virtual bool RegisterClass(const std::wstring& className) = 0;
    // CreateWindowExW of a window of a registered class, without a menu; its
    // messages go to `procedure`. Null when the window cannot be made.
    virtual WindowHandle CreateWindowEx(uint32 exStyle, const std::wstring& className,
                                        const std::wstring& title, uint32 style, int x, int y,
                                        int width, int height, WindowHandle parent,
                                        WindowProcedure& procedure) = 0;
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
    virtual intptr SendMessage(WindowHandle window, unsigned message, uintptr wParam,
                               intptr lParam) = 0;

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

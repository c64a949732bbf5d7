#pragma once
// The dialog framework of the user interface: a modeless dialog made from a
// template by number, and a message map per class that routes commands (by
// control id and notification code), control notifications and the agent's
// own messages to member functions.

#include <cstddef>
#include <string>

#include "base/agent.h"
#include "platform/portable.h"
#include "platform/ui_port.h"

namespace lumivo {

// The dialog is its window's procedure, so it lives as long as its window.
class CDialog : private WindowProcedure, private NonCopyable {
  public:
    CDialog(Agent& agent, int templateId);
    virtual ~CDialog();

    // Makes the window from the template, hidden unless the template says
    // otherwise; the initialisation runs before this returns. False when the
    // window cannot be made.
    bool Create(WindowHandle parent);
    WindowHandle GetSafeHwnd() const { return window_; }
    int TemplateId() const { return templateId_; }

  protected:
    // Runs once the window exists; true lets the platform set the default focus.
    virtual bool OnInitDialog() { return true; }
    // The class's message map: true when the message was handled, with the
    // answer to the sender in `result`.
    virtual bool OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result);

    UiPort& Ui() const { return *agent_.ports.ui; }
    WindowHandle Item(int id) const;
    void SetItemText(int id, const std::string& narrowText) const;
    void EnableItem(int id, bool enable) const;
    bool IsItemChecked(int id) const;
    void SetItemCheck(int id, bool checked) const;

    Agent& agent_;

  private:
    bool HandleMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam,
                       intptr& result);

    int templateId_;
    WindowHandle window_;
    bool destroying_;
};

// One line of a message map. For WM_COMMAND, `id` and `code` are the low and
// high words of wParam; for WM_NOTIFY they are the sender's id and the
// notification code; for any other message both are ignored.
template <class T>
struct MessageMapEntry {
    unsigned message;
    int id;
    unsigned code;
    intptr (T::*handler)(uintptr wParam, intptr lParam);
};

// Runs the first entry of `map` that matches the message.
template <class T, std::size_t N>
bool DispatchMessageMap(T& target, const MessageMapEntry<T> (&map)[N], unsigned message,
                        uintptr wParam, intptr lParam, intptr& result) {
    for (std::size_t i = 0; i < N; ++i) {
        const MessageMapEntry<T>& entry = map[i];
        if (entry.message != message) continue;
        if (message == WM_COMMAND &&
            (LoWord(wParam) != static_cast<unsigned>(entry.id) || HiWord(wParam) != entry.code)) {
            continue;
        }
        if (message == WM_NOTIFY) {
            const NotifyHeader* header = reinterpret_cast<const NotifyHeader*>(lParam);
            if (header == NULL || header->idFrom != static_cast<uintptr>(entry.id) ||
                header->code != entry.code) {
                continue;
            }
        }
        result = (target.*entry.handler)(wParam, lParam);
        return true;
    }
    return false;
}

}  // namespace lumivo

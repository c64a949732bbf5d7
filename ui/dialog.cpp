#include "ui/dialog.h"

namespace lumivo {

CDialog::CDialog(Agent& agent, int templateId)
    : agent_(agent), templateId_(templateId), window_(NULL), destroying_(false) {}

CDialog::~CDialog() {
    // The derived part is gone already: messages sent while the window goes
    // away must not reach it.
    destroying_ = true;
    if (window_ != NULL && agent_.ports.ui != NULL) Ui().DestroyWindow(window_);
}

bool CDialog::Create(WindowHandle parent) {
    if (agent_.ports.ui == NULL) return false;
    WindowHandle made = Ui().CreateDialogParam(templateId_, parent, *this);
    window_ = made;
    return made != NULL;
}

bool CDialog::HandleMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam,
                            intptr& result) {
    if (destroying_) return false;
    // The first messages, WM_INITDIALOG among them, come before
    // CreateDialogParam has returned the handle.
    if (window_ == NULL) window_ = window;
    if (message == WM_INITDIALOG) {
        result = OnInitDialog() ? 1 : 0;
        return true;
    }
    return OnMessage(message, wParam, lParam, result);
}

bool CDialog::OnMessage(unsigned, uintptr, intptr, intptr&) { return false; }

WindowHandle CDialog::Item(int id) const { return Ui().GetDlgItem(window_, id); }

void CDialog::SetItemText(int id, const std::string& narrowText) const {
    Ui().SetWindowText(Item(id), Ui().AnsiToWide(narrowText));
}

void CDialog::EnableItem(int id, bool enable) const { Ui().EnableWindow(Item(id), enable); }

bool CDialog::IsItemChecked(int id) const {
    return Ui().SendMessage(Item(id), BM_GETCHECK, 0, 0) == static_cast<intptr>(BST_CHECKED);
}

void CDialog::SetItemCheck(int id, bool checked) const {
    Ui().SendMessage(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace lumivo

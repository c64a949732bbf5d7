#include "platform/gtk/system_gtk.h"

#include <gtk/gtk.h>
#include <poll.h>

#include "platform/gtk/ui_gtk.h"


namespace lumivo {

GtkSystem::GtkSystem(int argc, char** argv)
    : PosixSystem(argc, argv), context_(g_main_context_default()) {
    g_main_context_acquire(context_);
    SetLoopSource(this);
}

GtkSystem::~GtkSystem() {
    SetLoopSource(nullptr);
    g_main_context_release(context_);
}

// One iteration of the main context split around the loop's own poll(), as
// g_main_context_iteration does it around g_poll().
int GtkSystem::Prepare(std::vector<pollfd>& fds) {
    const bool ready = g_main_context_prepare(context_, &priority_) != FALSE;
    gint timeout = -1;
    polled_.resize(16);
    for (;;) {
        const gint needed = g_main_context_query(context_, priority_, &timeout, polled_.data(),
                                                 static_cast<gint>(polled_.size()));
        if (needed <= static_cast<gint>(polled_.size())) {
            polled_.resize(static_cast<std::size_t>(needed));
            break;
        }
        polled_.resize(static_cast<std::size_t>(needed));
    }
    for (const GPollFD& fd : polled_)
        fds.push_back(pollfd{fd.fd, static_cast<short>(fd.events), 0});
    return ready ? 0 : timeout;
}

void GtkSystem::Dispatch(const pollfd* fds, std::size_t count) {
    for (std::size_t i = 0; i < count && i < polled_.size(); ++i)
        polled_[i].revents = static_cast<gushort>(fds[i].revents);
    if (g_main_context_check(context_, priority_, polled_.data(),
                             static_cast<gint>(polled_.size()))) {
        g_main_context_dispatch(context_);
    }
}

int GtkSystem::MessageBox(WindowHandle owner, const std::wstring& text,
                          const std::wstring& caption, unsigned type) {
    if (gdk_display_get_default() == nullptr) return PosixSystem::MessageBox(owner, text, caption, type);
    const bool yesNo = (type & 0xF) == MB_YESNO;
    GtkWindow* parent = ui_ != nullptr ? ui_->ToplevelOf(owner) : nullptr;
    const GtkMessageType kind = (type & 0xF0) == MB_ICONEXCLAMATION ? GTK_MESSAGE_WARNING
                                                                      : GTK_MESSAGE_INFO;
    GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, kind,
                                            yesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                            Utf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(box), Utf8(caption).c_str());
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    gtk_window_set_modal(GTK_WINDOW(box), TRUE);
    gint response = GTK_RESPONSE_NONE;
    g_signal_connect(box, "response", G_CALLBACK(&GtkSystem::OnResponse), &response);
    gtk_widget_show(box);
    // The box's own loop is the agent's, as a Windows message box's is: the
    // timers keep ticking (heart-beats, polls) and a second copy's messages
    // arrive while the question waits. A quit that comes meanwhile ends the
    // box unanswered and stays for the loop outside.
    Message message;
    while (response == GTK_RESPONSE_NONE) {
        if (!GetMessage(message)) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(message);
        DispatchMessage(message);
    }
    gtk_widget_destroy(box);
    if (!yesNo) return IDOK;
    return response == GTK_RESPONSE_YES ? IDYES : IDNO;
}

void GtkSystem::OnResponse(GtkDialog*, gint response, gpointer answer) {
    // Closing the box by its window or Escape is an answer too: No.
    *static_cast<gint*>(answer) = response == GTK_RESPONSE_NONE ? GTK_RESPONSE_NO : response;
}

}  // namespace lumivo

#pragma once
// The core services on a Linux desktop: the POSIX ones, with the toolkit's
// main context waited for inside the same message loop (so window events,
// the tray's D-Bus calls and the agent's timers take turns on one thread),
// and the toolkit's own message boxes.

#include <gtk/gtk.h>

#include <vector>

#include "platform/posix/system_posix.h"

namespace lumivo {

class GtkUi;

class GtkSystem : public PosixSystem, private PosixSystem::LoopSource {
  public:
    GtkSystem(int argc, char** argv);
    ~GtkSystem() override;

    // A modal message box of the toolkit, over `owner` when it is a window of
    // the desktop host; Yes/No and OK boxes with the Windows answers.
    int MessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                   unsigned type) override;

    // The desktop host whose windows own the boxes.
    void SetUi(const GtkUi* ui) { ui_ = ui; }

  private:
    static void OnResponse(GtkDialog* box, gint response, gpointer answer);
    int Prepare(std::vector<pollfd>& fds) override;
    void Dispatch(const pollfd* fds, std::size_t count) override;

    GMainContext* context_;
    gint priority_ = 0;
    std::vector<GPollFD> polled_;
    const GtkUi* ui_ = nullptr;
};

}  // namespace lumivo

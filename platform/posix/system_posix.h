#pragma once
// The core services on POSIX: the command line rebuilt from argv, a named
// mutex as a locked file, timers and a poll()-based message loop on the
// monotonic clock, top-level windows that other processes of the same user
// can find and send to, and headless message boxes.
//
// Per-user runtime folder (mutex lock files, window sockets):
//   $LUMIVO_RUNTIME_DIR; else, for an installed program, the service's
//   /run/lumivo-runtime when it is writable; else $XDG_RUNTIME_DIR/lumivo,
//   else /tmp/lumivo-<uid>. Created with mode 0700 when missing; used only
//   when it is the user's own and no one else can write it, never changed.
//   A refused folder gives one line and the mutex ERROR_NO_INSTANCE_GUARD.
// Message boxes are written as one line on standard error and answered with
// their default button: IDOK for an OK box, IDNO for a yes/no box. The
// environment variable LUMIVO_MESSAGEBOX_ANSWER ("yes" or "no") answers
// yes/no boxes instead.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct pollfd;

#include "platform/posix/unique_fd.h"
#include "platform/system_port.h"

namespace lumivo {

class PosixSystem : public SystemPort {
  public:
    using WindowProcedure = std::function<std::intptr_t(unsigned, std::uintptr_t, std::intptr_t)>;

    static constexpr unsigned kQuitMessage = 0x0012;
    static constexpr unsigned kTimerMessage = 0x0113;
    // Posted when SIGINT or SIGTERM arrives; its dispatch runs the termination handler.
    static constexpr unsigned kTerminateMessage = 0xBFFF;
    // How long a send to another process waits for the answer.
    static constexpr int kSendTimeoutMs = 10000;

    PosixSystem(int argc, char** argv);
    ~PosixSystem() override;
    PosixSystem(const PosixSystem&) = delete;
    PosixSystem& operator=(const PosixSystem&) = delete;

    // The Windows-style command-line text that the core's splitting turns
    // back into these arguments.
    static std::wstring JoinCommandLine(const std::vector<std::string>& arguments);
    // The per-user runtime folder, created when missing; empty (with a line on
    // standard error) when it cannot be made or is not safely the user's own.
    static std::string RuntimeDirectory();

    std::wstring GetCommandLine() override;
    std::wstring GetModuleFileName() override;
    MutexHandle CreateMutex(const std::wstring& name, bool initialOwner) override;
    void CloseHandle(MutexHandle handle) override;
    unsigned long GetLastError() override;
    TimerId SetTimer(unsigned elapseMs, TimerProcedure& procedure) override;
    bool KillTimer(TimerId id) override;
    bool GetMessage(Message& message) override;
    void TranslateMessage(const Message& message) override;
    void DispatchMessage(const Message& message) override;
    void PostQuitMessage(int exitCode) override;
    WindowHandle FindWindow(const std::wstring& title) override;
    std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    int MessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                   unsigned type) override;
    unsigned RegisterWindowMessage(const std::wstring& name) override;
    void Sleep(unsigned milliseconds) override;
    void ReportActivity(AgentActivity::Value activity, const std::string& vpnAddress) override;

    // --- For the headless UI host ---
    // A top-level window of this process. Its procedure runs for messages
    // dispatched or sent to it, also sends from other processes of the user.
    void RegisterWindow(WindowHandle window, const std::wstring& title, WindowProcedure procedure);
    void SetWindowTitle(WindowHandle window, const std::wstring& title);
    void UnregisterWindow(WindowHandle window);
    // Queues a message for the loop; false when the window is not registered.
    bool PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                     std::intptr_t lParam);
    // Runs `handler` inside DispatchMessage when SIGINT or SIGTERM arrives.
    // Until it is set, and until the loop first waits for a message, the
    // signals keep their default action (the process ends); so does a second
    // signal after the first has been handed on.
    void SetTerminationHandler(std::function<void()> handler);

    // A second source of events that the loop waits for beside its own: a
    // toolkit's main context. Before each wait `prepare` may add descriptors
    // and gives the longest wait it allows in ms (-1: no limit); after it,
    // `dispatch` gets the same descriptors with their events and runs what
    // is ready, inside GetMessage. Null removes it.
    struct LoopSource {
        virtual ~LoopSource() = default;
        virtual int Prepare(std::vector<struct pollfd>& fds) = 0;
        virtual void Dispatch(const struct pollfd* fds, std::size_t count) = 0;
    };
    void SetLoopSource(LoopSource* source) { loopSource_ = source; }

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        unsigned periodMs = 0;
        Clock::time_point due;
        TimerProcedure* procedure = nullptr;
        bool pending = false;  // its message was taken but not yet dispatched
    };
    struct Window {
        std::wstring title;
        WindowProcedure procedure;
    };
    struct Listener {
        UniqueFd fd;
        std::string path;
    };
    struct RemoteWindow {
        std::wstring title;
    };
    struct LockFile {
        UniqueFd fd;
    };

    void SyncListeners();
    void ServeConnection(int listenFd);
    std::intptr_t SendRemote(const std::wstring& title, std::uint32_t kind, unsigned message,
                             std::uintptr_t wParam, std::intptr_t lParam, bool& answered);
    std::string SocketPath(const std::wstring& title) const;
    WindowHandle FindLocal(const std::wstring& title) const;
    const std::string& Runtime();

    std::wstring commandLine_;
    std::string programArgument_;  // argv[0], when /proc/self/exe cannot be read
    unsigned long lastError_ = 0;
    std::vector<std::unique_ptr<LockFile>> mutexes_;  // the handle is the LockFile

    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
    std::deque<Message> posted_;
    bool quitPending_ = false;
    int quitCode_ = 0;

    std::map<WindowHandle, Window> windows_;
    std::map<std::wstring, Listener> listeners_;  // one socket per distinct local title
    std::vector<std::unique_ptr<RemoteWindow>> remotes_;
    std::string runtimeDir_;
    bool runtimeDirChecked_ = false;

    std::map<std::wstring, unsigned> registered_;
    std::function<void()> terminationHandler_;
    LoopSource* loopSource_ = nullptr;
    UniqueFd signalRead_;  // the self-pipe that the signal handler writes to
    UniqueFd signalWrite_;
};

}  // namespace lumivo

#include "platform/posix/system_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/service_notify.h"
#include "platform/posix/termination_signal.h"

namespace lumivo {

namespace {

constexpr unsigned long kErrorAccessDenied = 5;
constexpr unsigned long kErrorGeneralFailure = 31;
constexpr unsigned kMinimumTimerMs = 10;
constexpr std::size_t kMaxTitleLength = 4096;
constexpr int kServeTimeoutMs = 1000;

std::string ParentFolder(const std::string& path) {
    std::size_t end = path.find_last_not_of('/');
    std::size_t slash = end == std::string::npos ? std::string::npos : path.rfind('/', end);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// One request between processes: find a window by title, or send it a message.
constexpr std::uint32_t kWireMagic = 0x4C4D5631;
constexpr std::uint32_t kFindWindow = 1;
constexpr std::uint32_t kSendMessage = 2;
struct WireRequest {
    std::uint32_t magic;
    std::uint32_t kind;
    std::uint32_t message;
    std::uint32_t titleLength;  // wide characters that follow the header
    std::uint64_t wParam;
    std::int64_t lParam;
};

// The write end of the self-pipe, whether a loop has started to wait for
// messages, and whether a termination was asked for already: state of the
// signal handler, which can reach nothing else.
volatile sig_atomic_t signalWriteFd = -1;
volatile sig_atomic_t loopStarted = 0;
volatile sig_atomic_t terminationAsked = 0;

extern "C" void OnTerminationSignal(int number) {
    // Before the loop runs (signing in can retry for ever) nothing would
    // dispatch the request, and a second request means the orderly way takes
    // too long (a slow request at shutdown): end the process the default way.
    if (!loopStarted || terminationAsked) {
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    terminationAsked = 1;
    NoteTerminationSignal();  // a request in flight ends at once
    int saved = errno;
    char byte = 1;
    if (signalWriteFd >= 0) {
        ssize_t ignored = write(signalWriteFd, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

// Each byte becomes one wide character: the inverse of the core's narrowing.
std::wstring Widen(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
    return wide;
}

std::string Hash(const std::wstring& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : text) {
        hash ^= static_cast<std::uint32_t>(c);
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// A file name for a mutex name: readable, and unique through the hash.
std::string LockFileName(const std::wstring& name) {
    std::string safe;
    for (wchar_t c : name.substr(0, 64)) {
        bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                     (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'_';
        safe.push_back(plain ? static_cast<char>(c) : '_');
    }
    return "mutex-" + safe + "-" + Hash(name);
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd one{fd, events, 0};
        int ready = poll(&one, 1, MillisecondsUntil(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool ReadFull(int fd, void* buffer, std::size_t size,
              std::chrono::steady_clock::time_point deadline) {
    char* at = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = read(fd, at, size);
        if (got > 0) {
            at += got;
            size -= static_cast<std::size_t>(got);
        } else if (got == 0) {
            return false;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!WaitFor(fd, POLLIN, deadline)) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool WriteFull(int fd, const void* buffer, std::size_t size,
               std::chrono::steady_clock::time_point deadline) {
    const char* at = static_cast<const char*>(buffer);
    while (size > 0) {
        ssize_t put = send(fd, at, size, MSG_NOSIGNAL);
        if (put > 0) {
            at += put;
            size -= static_cast<std::size_t>(put);
        } else if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == geteuid();
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

PosixSystem::PosixSystem(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + (argc > 0 ? argc : 0));
    commandLine_ = JoinCommandLine(arguments);
    if (!arguments.empty()) programArgument_ = arguments[0];
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalRead_.Reset(ends[0]);
        signalWrite_.Reset(ends[1]);
    }
}

PosixSystem::~PosixSystem() {
    if (terminationHandler_) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signalWriteFd = -1;
    }
    for (auto& listener : listeners_) unlink(listener.second.path.c_str());
}

std::wstring PosixSystem::JoinCommandLine(const std::vector<std::string>& arguments) {
    std::wstring text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (i == 0) {
            // The program word ends at the first control character or space
            // unless it is quoted; a quoted one cannot hold a quote itself.
            bool plain = !argument.empty() && argument[0] != '"' &&
                         std::none_of(argument.begin(), argument.end(),
                                      [](char c) { return static_cast<unsigned char>(c) <= 32; });
            if (plain) {
                text += Widen(argument);
            } else {
                std::string unquoted = argument;
                unquoted.erase(std::remove(unquoted.begin(), unquoted.end(), '"'), unquoted.end());
                text += L"\"" + Widen(unquoted) + L"\"";
            }
            continue;
        }
        text += L' ';
        if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
            text += Widen(argument);
            continue;
        }
        // Backslashes count only before a quote: double them there, and
        // before the closing quote.
        std::string quoted = "\"";
        std::size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"') {
                quoted.append(2 * backslashes + 1, '\\');
            } else {
                quoted.append(backslashes, '\\');
            }
            backslashes = 0;
            quoted.push_back(c);
        }
        quoted.append(2 * backslashes, '\\');
        quoted.push_back('"');
        text += Widen(quoted);
    }
    return text;
}

std::string PosixSystem::RuntimeDirectory() {
    std::string dir;
    const char* own = std::getenv("LUMIVO_RUNTIME_DIR");
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (own != nullptr && *own != '\0') {
        dir = own;
    } else if (PosixFiles::IsInstalledProgram(PosixFiles::ProgramPath()) &&
               access(LUMIVO_SERVICE_RUNTIME_DIR, W_OK | X_OK) == 0) {
        // The service's own folder, so that a copy run by hand finds its lock.
        dir = LUMIVO_SERVICE_RUNTIME_DIR;
    } else if (xdg != nullptr && *xdg != '\0') {
        dir = std::string(xdg) + "/lumivo";
    } else {
        dir = "/tmp/lumivo-" + std::to_string(geteuid());
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        LogError("Cannot create the runtime folder " + dir + ": " + std::strerror(errno));
        return "";
    }
    // Another user may have made the folder first (it can sit in /tmp): use
    // it only when it is a real folder of ours that no one else can write.
    // A folder that is not ours is left exactly as it is.
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        LogError("The runtime folder " + dir + " is not a folder, so the agent does not start");
        return "";
    }
    // Root may use a folder made for a service (/run/lumivo-runtime) where
    // only root could have made it.
    struct stat parent {};
    const bool madeForService = geteuid() == 0 && stat(ParentFolder(dir).c_str(), &parent) == 0 &&
                                parent.st_uid == 0 && (parent.st_mode & 022) == 0;
    if (info.st_uid != geteuid() && !madeForService) {
        LogError("The runtime folder " + dir +
                 " belongs to another user, so the agent does not start");
        return "";
    }
    if ((info.st_mode & 022) != 0) {
        LogError("The runtime folder " + dir +
                 " can be written by other users, so the agent does not start");
        return "";
    }
    return dir;
}

const std::string& PosixSystem::Runtime() {
    if (!runtimeDirChecked_) {
        runtimeDir_ = RuntimeDirectory();
        runtimeDirChecked_ = true;
    }
    return runtimeDir_;
}

std::wstring PosixSystem::GetCommandLine() { return commandLine_; }

std::wstring PosixSystem::GetModuleFileName() {
    const std::string path = PosixFiles::ProgramPath();
    return Widen(path.empty() ? programArgument_ : path);
}

// A held lock on a file in the runtime folder: the kernel drops it when the
// process ends in any way, so a killed agent leaves no stale mutex. A second
// open of the same name (here or in another process) cannot take the lock.
MutexHandle PosixSystem::CreateMutex(const std::wstring& name, bool /*initialOwner*/) {
    const std::string& dir = Runtime();
    if (dir.empty()) {
        lastError_ = ERROR_NO_INSTANCE_GUARD;  // the line is written
        return nullptr;
    }
    std::string path = dir + "/" + LockFileName(name);
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid()) {
        lastError_ =
            (errno == EACCES || errno == EPERM) ? kErrorAccessDenied : kErrorGeneralFailure;
        return nullptr;
    }
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
        lastError_ = 0;
    } else if (errno == EWOULDBLOCK) {
        lastError_ = ERROR_ALREADY_EXISTS;
    } else {
        lastError_ = kErrorGeneralFailure;
        return nullptr;
    }
    mutexes_.push_back(std::make_unique<LockFile>(LockFile{std::move(fd)}));
    return mutexes_.back().get();
}

void PosixSystem::CloseHandle(MutexHandle handle) {
    auto it = std::find_if(
        mutexes_.begin(), mutexes_.end(),
        [handle](const std::unique_ptr<LockFile>& lock) { return lock.get() == handle; });
    if (it != mutexes_.end()) mutexes_.erase(it);
}

unsigned long PosixSystem::GetLastError() { return lastError_; }

TimerId PosixSystem::SetTimer(unsigned elapseMs, TimerProcedure& procedure) {
    Timer timer;
    timer.periodMs = std::max(elapseMs, kMinimumTimerMs);
    timer.due = Clock::now() + std::chrono::milliseconds(timer.periodMs);
    timer.procedure = &procedure;
    TimerId id = nextTimerId_++;
    timers_[id] = std::move(timer);
    return id;
}

bool PosixSystem::KillTimer(TimerId id) { return timers_.erase(id) > 0; }

bool PosixSystem::GetMessage(Message& message) {
    loopStarted = 1;
    for (;;) {
        if (!posted_.empty()) {
            message = posted_.front();
            posted_.pop_front();
            return true;
        }
        if (quitPending_) {
            quitPending_ = false;
            message = Message{nullptr, kQuitMessage, static_cast<std::uintptr_t>(quitCode_), 0};
            return false;
        }

        // The timer that is most overdue comes first; a timer is re-armed when
        // its message is taken, one period on, or a period from now when it is
        // already later than that, so a late loop never gets a burst of ticks.
        Clock::time_point now = Clock::now();
        auto due = timers_.end();
        Clock::time_point next = Clock::time_point::max();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due <= now && (due == timers_.end() || it->second.due < due->second.due))
                due = it;
            next = std::min(next, it->second.due);
        }
        if (due != timers_.end()) {
            Timer& timer = due->second;
            auto period = std::chrono::milliseconds(timer.periodMs);
            timer.due = timer.due + period <= now ? now + period : timer.due + period;
            message = Message{nullptr, kTimerMessage, due->first, 0};
            return true;
        }

        int timeout = -1;
        if (next != Clock::time_point::max()) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            timeout = static_cast<int>(std::min<long long>(wait, INT_MAX));
        }
        std::vector<pollfd> fds;
        if (signalRead_.Valid()) fds.push_back(pollfd{signalRead_.Get(), POLLIN, 0});
        for (const auto& listener : listeners_)
            fds.push_back(pollfd{listener.second.fd.Get(), POLLIN, 0});
        const std::size_t own = fds.size();
        if (loopSource_ != nullptr) {
            const int limit = loopSource_->Prepare(fds);
            if (limit >= 0 && (timeout < 0 || limit < timeout)) timeout = limit;
        }
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (loopSource_ != nullptr) loopSource_->Dispatch(fds.data() + own, fds.size() - own);
        if (ready <= 0) continue;
        fds.resize(own);

        for (const pollfd& fd : fds) {
            if ((fd.revents & POLLIN) == 0) continue;
            if (fd.fd == signalRead_.Get()) {
                char drain[64];
                while (read(fd.fd, drain, sizeof drain) > 0) {
                }
                posted_.push_back(Message{nullptr, kTerminateMessage, 0, 0});
                continue;
            }
            // A window procedure run by an earlier send may have closed this socket.
            bool stillListening = std::any_of(listeners_.begin(), listeners_.end(),
                                              [&](const auto& l) { return l.second.fd.Get() == fd.fd; });
            if (stillListening) ServeConnection(fd.fd);
        }
    }
}

void PosixSystem::TranslateMessage(const Message&) {
    // No keyboard on this platform: nothing to turn into character messages.
}

void PosixSystem::DispatchMessage(const Message& message) {
    if (message.window == nullptr && message.message == kTimerMessage) {
        auto it = timers_.find(static_cast<TimerId>(message.wParam));
        if (it == timers_.end()) return;
        TimerProcedure* procedure = it->second.procedure;  // it may kill its own timer
        // Every tick tells a watching service manager that the loop still runs.
        NotifyServiceManager("WATCHDOG=1");
        procedure->OnTimer(it->first);
        // A procedure that ran past its next tick pushes that tick a period on.
        it = timers_.find(static_cast<TimerId>(message.wParam));
        Clock::time_point now = Clock::now();
        if (it != timers_.end() && it->second.due <= now)
            it->second.due = now + std::chrono::milliseconds(it->second.periodMs);
        return;
    }
    if (message.window == nullptr && message.message == kTerminateMessage) {
        ClearTerminationSignal();
        auto handler = terminationHandler_;
        if (handler) {
            handler();
        } else {
            PostQuitMessage(0);
        }
        return;
    }
    auto it = windows_.find(message.window);
    if (it == windows_.end()) return;
    auto procedure = it->second.procedure;
    if (procedure) procedure(message.message, message.wParam, message.lParam);
}

void PosixSystem::PostQuitMessage(int exitCode) {
    quitPending_ = true;
    quitCode_ = exitCode;
}

WindowHandle PosixSystem::FindLocal(const std::wstring& title) const {
    for (const auto& window : windows_)
        if (window.second.title == title) return window.first;
    return nullptr;
}

WindowHandle PosixSystem::FindWindow(const std::wstring& title) {
    if (WindowHandle local = FindLocal(title)) return local;
    if (Runtime().empty()) return nullptr;
    bool answered = false;
    if (SendRemote(title, kFindWindow, 0, 0, 0, answered) != 1 || !answered) return nullptr;
    for (const auto& remote : remotes_)
        if (remote->title == title) return remote.get();
    remotes_.push_back(std::make_unique<RemoteWindow>(RemoteWindow{title}));
    return remotes_.back().get();
}

std::intptr_t PosixSystem::SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam) {
    auto local = windows_.find(window);
    if (local != windows_.end()) {
        auto procedure = local->second.procedure;
        return procedure ? procedure(message, wParam, lParam) : 0;
    }
    for (const auto& remote : remotes_) {
        if (remote.get() != window) continue;
        bool answered = false;
        return SendRemote(remote->title, kSendMessage, message, wParam, lParam, answered);
    }
    return 0;
}

std::string PosixSystem::SocketPath(const std::wstring& title) const {
    return runtimeDir_ + "/window-" + Hash(title) + ".sock";
}

std::intptr_t PosixSystem::SendRemote(const std::wstring& title, std::uint32_t kind,
                                      unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                                      bool& answered) {
    answered = false;
    sockaddr_un address;
    if (title.size() > kMaxTitleLength || !FillAddress(SocketPath(title), address)) return 0;
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) return 0;
    std::int64_t result = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
    WireRequest request{kWireMagic,
                        kind,
                        message,
                        static_cast<std::uint32_t>(title.size()),
                        static_cast<std::uint64_t>(wParam),
                        static_cast<std::int64_t>(lParam)};
    // The runtime folder is the user's own; the peer check keeps it so even if
    // someone else's socket got there.
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        PeerIsThisUser(fd.Get()) && WriteFull(fd.Get(), &request, sizeof request, deadline) &&
        WriteFull(fd.Get(), title.data(), title.size() * sizeof(wchar_t), deadline) &&
        ReadFull(fd.Get(), &result, sizeof result, deadline)) {
        answered = true;
    } else {
        result = 0;
    }
    return static_cast<std::intptr_t>(result);
}

// Answers one find or send from another process, from inside this loop.
// Another process has only one thing to ask of a window here, to show
// itself: any other message (whose parameters could stand for pointers in
// this process) is dropped.
void PosixSystem::ServeConnection(int listenFd) {
    UniqueFd fd(accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.Valid()) return;
    auto deadline = Clock::now() + std::chrono::milliseconds(kServeTimeoutMs);
    WireRequest request{};
    std::wstring title;
    bool ok = PeerIsThisUser(fd.Get()) && ReadFull(fd.Get(), &request, sizeof request, deadline) &&
              request.magic == kWireMagic && request.titleLength <= kMaxTitleLength;
    if (ok) {
        title.resize(request.titleLength);
        ok = ReadFull(fd.Get(), title.data(), title.size() * sizeof(wchar_t), deadline);
    }
    if (!ok) return;
    WindowHandle window = FindLocal(title);
    std::int64_t result = 0;
    if (request.kind == kFindWindow) {
        result = window != nullptr ? 1 : 0;
    } else if (request.kind == kSendMessage && window != nullptr && request.message == WM_SHOWGUI) {
        result = SendMessage(window, request.message, static_cast<std::uintptr_t>(request.wParam),
                             static_cast<std::intptr_t>(request.lParam));
    }
    deadline = Clock::now() + std::chrono::milliseconds(kServeTimeoutMs);
    WriteFull(fd.Get(), &result, sizeof result, deadline);
}

// Keeps one listening socket per distinct title of this process's windows.
void PosixSystem::SyncListeners() {
    std::set<std::wstring> titles;
    for (const auto& window : windows_) titles.insert(window.second.title);
    for (auto it = listeners_.begin(); it != listeners_.end();) {
        if (titles.count(it->first) != 0) {
            ++it;
            continue;
        }
        unlink(it->second.path.c_str());
        it = listeners_.erase(it);
    }
    for (const std::wstring& title : titles) {
        if (listeners_.count(title) != 0 || title.size() > kMaxTitleLength) continue;
        if (Runtime().empty()) return;
        std::string path = SocketPath(title);
        sockaddr_un address;
        if (!FillAddress(path, address)) continue;
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd.Valid()) continue;
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (bind(fd.Get(), raw, sizeof address) != 0) {
            if (errno != EADDRINUSE) continue;
            // Left behind by a process that was killed, unless someone answers.
            UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            bool alive = probe.Valid() && connect(probe.Get(), raw, sizeof address) == 0;
            if (alive || errno != ECONNREFUSED) continue;
            unlink(path.c_str());
            if (bind(fd.Get(), raw, sizeof address) != 0) continue;
        }
        if (listen(fd.Get(), 8) != 0) continue;
        listeners_[title] = Listener{std::move(fd), path};
    }
}

int PosixSystem::MessageBox(WindowHandle, const std::wstring& text, const std::wstring& caption,
                            unsigned type) {
    int answer = IDOK;
    if ((type & 0xF) == MB_YESNO) {
        const char* chosen = std::getenv("LUMIVO_MESSAGEBOX_ANSWER");
        answer = chosen != nullptr && std::strcmp(chosen, "yes") == 0 ? IDYES : IDNO;
    }
    const char* named = answer == IDYES ? "yes" : answer == IDNO ? "no" : "ok";
    LogError("Message box [" + ToNarrow(caption) + "] " + ToNarrow(text) + " -> " + named);
    return answer;
}

unsigned PosixSystem::RegisterWindowMessage(const std::wstring& name) {
    auto it = registered_.find(name);
    if (it != registered_.end()) return it->second;
    unsigned number = 0xC000 + static_cast<unsigned>(registered_.size());
    registered_[name] = number;
    return number;
}

void PosixSystem::Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void PosixSystem::ReportActivity(AgentActivity::Value activity, const std::string& vpnAddress) {
    NotifyServiceManager(ActivityNotification(activity, vpnAddress));
}

void PosixSystem::RegisterWindow(WindowHandle window, const std::wstring& title,
                                 WindowProcedure procedure) {
    if (window == nullptr) return;
    windows_[window] = Window{title, std::move(procedure)};
    SyncListeners();
}

void PosixSystem::SetWindowTitle(WindowHandle window, const std::wstring& title) {
    auto it = windows_.find(window);
    if (it == windows_.end()) return;
    it->second.title = title;
    SyncListeners();
}

void PosixSystem::UnregisterWindow(WindowHandle window) {
    if (windows_.erase(window) > 0) SyncListeners();
}

bool PosixSystem::PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) {
    if (window != nullptr && windows_.count(window) == 0) return false;
    posted_.push_back(Message{window, message, wParam, lParam});
    return true;
}

void PosixSystem::SetTerminationHandler(std::function<void()> handler) {
    terminationHandler_ = std::move(handler);
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (terminationHandler_ && signalWrite_.Valid()) {
        signalWriteFd = signalWrite_.Get();
        terminationAsked = 0;
        action.sa_handler = OnTerminationSignal;
    } else {
        action.sa_handler = SIG_DFL;
        signalWriteFd = -1;
    }
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace lumivo

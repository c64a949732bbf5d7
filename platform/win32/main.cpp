// Windows entry point: the Win32 adapters behind the ports, one Agent over
// them, and the agent's whole run. The exit status is 0 on every path.

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32_WCE
// The desktop C library's stream modes and locale; Compact's C library has
// neither, and converts with the system's code page from the start.
#include <fcntl.h>
#include <io.h>

#include <clocale>
#endif

#include "app/agent_app.h"
#include "base/agent.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/internet_wininet.h"
#include "platform/win32/ip_helper_win32.h"
#include "platform/win32/ras_win32.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/ui_win32.h"
#include "platform/win32/windows_api.h"

namespace {

void RunAgent() {
    using namespace lumivo;
    Win32System system;
    Win32Files files;
    std::string connectTo;
#ifndef _WIN32_WCE
    // A development service elsewhere ("HOST:PORT:TO-HOST:TO-PORT", as on
    // POSIX); the board has no environment.
    if (const char* value = std::getenv("LUMIVO_CONNECT_TO")) connectTo = value;
#endif
    WinInetInternet internet(connectTo);
    Win32Ras ras;
    Win32IpHelper ipHelper;
    Win32Ui ui(&system);

    Agent agent;
    agent.ports = Ports(&system, &files, &internet, &ras, &ipHelper, &ui);
    agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");

    CAgentApp(agent).RunAgent();
}

}  // namespace

#ifdef _WIN32_WCE
// A GUI program on Compact starts at WinMain, whose command line is wide.
// The agent reads its command line through GetCommandLine, as on the desktop.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    RunAgent();
    return 0;
}
#else
int main() {
    // Multibyte conversion follows the system's code page, as on the device.
    std::setlocale(LC_CTYPE, "");
    // Every console line ends in a single line feed, as on the board: the
    // desktop C library would otherwise write CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    RunAgent();
    return 0;
}
#endif

// The Win32 adapters under Wine: the same contracts as the fakes and the
// POSIX adapters keep, and what only the Windows calls do. The tests work in
// C:\BOOT and the phonebook of the build's own Wine prefix (ctest keeps them
// apart from the agent runs there); names carry the process id.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/agent.h"
#include "base/text.h"
#include "cloud/transport.h"
#include "connections/adapters.h"
#include "connections/network_contract.h"
#include "fakes/console_capture.h"
#include "fakes/function_procedures.h"
#include "platform/files_contract.h"
#include "platform/system_contract.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/internet_wininet.h"
#include "platform/win32/ip_helper_win32.h"
#include "platform/win32/ras_win32.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/windows_api.h"

namespace lumivo {
namespace {

std::wstring UniqueName(const wchar_t* base) {
    return std::wstring(base) + L"." + std::to_wstring(::GetCurrentProcessId());
}

// ---- Files: device paths are paths of the current drive's root ----

struct Win32FilesUnder {
    Win32FilesUnder() { ::SetCurrentDirectoryW(L"C:\\"); }
    ~Win32FilesUnder() {
        for (const std::string& path : handedOut) files.Remove(path);
    }
    FilePort& Files() { return files; }
    std::string Path(const std::string& name) {
        std::string path = "\\BOOT\\" + std::to_string(::GetCurrentProcessId()) + "-" + name;
        files.Remove(path);
        handedOut.push_back(path);
        return path;
    }
    Win32Files files;
    std::vector<std::string> handedOut;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FilesContract, Win32FilesUnder);

class Win32FilesTest : public FilesContract<Win32FilesUnder> {};
TEST_F(Win32FilesTest, TextModeWritesCrLfOnTheMedium) {
    ASSERT_TRUE(Write(file, "{\n\t\"id\":\t7\n}"));
    EXPECT_EQ(Read(file, "rb"), "{\r\n\t\"id\":\t7\r\n}");
}

// ---- System ----

struct Win32SystemUnder {
    Win32System system;
    SystemPort& System() { return system; }
    std::wstring Name(const wchar_t* base) { return UniqueName(base); }
    void LetTimersComeDue() {}
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SystemContract, Win32SystemUnder);

// A modal message box runs a loop of its own; the agent's timers must keep
// ticking in it (the quit question may stay open for a long time).
TEST(Win32System, TimersTickInsideAModalLoopToo) {
    Win32System system;
    int ticks = 0;
    FunctionTimer tick([&] {
        if (++ticks == 2) system.PostQuitMessage(0);
    });
    TimerId id = system.SetTimer(10, tick);
    // A nested loop of the platform's own: DispatchMessageW alone, no adapter.
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    EXPECT_EQ(ticks, 2);
    system.KillTimer(id);
}

// The procedures are the caller's, not copies: one that kills its own timer
// while it runs is not reached again, and the other timer keeps ticking.
TEST(Win32System, ATimerThatKillsItselfStopsAndTheOthersGoOn) {
    Win32System system;
    int selfTicks = 0;
    int otherTicks = 0;
    TimerId self = 0;
    FunctionTimer once([&] {
        ++selfTicks;
        system.KillTimer(self);
    });
    FunctionTimer other([&] {
        if (++otherTicks == 4) system.PostQuitMessage(0);
    });
    self = system.SetTimer(5, once);
    TimerId otherId = system.SetTimer(20, other);
    Message message;
    while (system.GetMessage(message)) system.DispatchMessage(message);
    EXPECT_EQ(selfTicks, 1);
    EXPECT_EQ(otherTicks, 4);
    system.KillTimer(otherId);
}

LRESULT CALLBACK AnswerPlusOne(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == 32779) return 32780;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(Win32System, FindsATopLevelWindowByExactTitleAndSendsToIt) {
    Win32System system;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AnswerPlusOne;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumivoSystemTest";
    ::RegisterClassW(&windowClass);
    std::wstring title = UniqueName(L"Lumivo Test Window");
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_POPUP, 0, 0, 0,
                                    0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(system.FindWindow(title), window);
    EXPECT_EQ(system.FindWindow(title + L" "), nullptr);
    EXPECT_EQ(system.SendMessage(system.FindWindow(title), 32779, 0, 0), 32780);
    ::DestroyWindow(window);
    EXPECT_EQ(system.FindWindow(title), nullptr);
}

TEST(Win32System, OwnPathAndCommandLineComeFromWindows) {
    Win32System system;
    std::wstring path = system.GetModuleFileName();
    ASSERT_GT(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    // The command line starts with the program, quoted or not.
    std::wstring line = system.GetCommandLine();
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    EXPECT_NE(line.find(name), std::wstring::npos);
}

// ---- RAS: Wine's service keeps entries but cannot dial ----

struct Win32RasUnder {
    Win32RasUnder() { ras.RasDeleteEntry(L"Lumivo 0"); }
    ~Win32RasUnder() { ras.RasDeleteEntry(L"Lumivo 0"); }
    RasPort& Ras() { return ras; }
    Win32Ras ras;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RasContract, Win32RasUnder);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RasServiceContract);

class Win32RasTest : public RasContract<Win32RasUnder> {};
TEST_F(Win32RasTest, WineStoresAndDeletesTheEntryButCannotDial) {
    ASSERT_EQ(StoreVpnEntry(), 0u);
    RasConnHandle connection = nullptr;
    EXPECT_NE(Dial(connection), 0u);
    EXPECT_EQ(ras().RasDeleteEntry(L"Lumivo 0"), 0u);
}

// ---- IP Helper ----

struct Win32IpHelperUnder {
    Win32IpHelper ipHelper;
    IpHelperPort& IpHelper() { return ipHelper; }
    unsigned long recordSize = sizeof(IP_ADAPTER_INFO);
    // The platform asks for more room than the records: its address entries.
    bool exactRoom = false;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, IpHelperContract, Win32IpHelperUnder);

TEST(Win32IpHelper, CoreReportsEveryAdapterAndNoVpn) {
    Win32IpHelper ipHelper;
    Agent agent;
    agent.ports.ipHelper = &ipHelper;
    AdapterList list;
    ASSERT_TRUE(GetAdapterList(agent, list));
    EXPECT_FALSE(IsVpnAdapterPresent(agent));
    std::string address;
    EXPECT_FALSE(FindVpnAddress(agent, address));
    JsonTree report(BuildInterfaceReport(agent));
    EXPECT_EQ(cJSON_GetArraySize(report.get()), static_cast<int>(list.size()));
    const cJSON* first =
        cJSON_GetObjectItemCaseSensitive(report.get(), list.front().adapterName.c_str());
    ASSERT_TRUE(cJSON_IsArray(first));
    std::string ip;
    EXPECT_TRUE(GetJsonString(cJSON_GetArrayItem(first, 0), "ip", ip));
    EXPECT_EQ(ip, list.front().ipAddressList.front().ipAddress);
}

// ---- WinINet, through the transport that uses it ----

TEST(WinInet, CrackUrlDecodesEscapesAndGivesTheSchemesDefaultPort) {
    WinInetInternet internet;
    UrlComponents parts;
    parts.hostNameCapacity = 1024;
    parts.urlPathCapacity = 1024;
    ASSERT_TRUE(
        internet.InternetCrackUrl(L"https://localhost:8443/api/a%20b", 0, ICU_DECODE, parts));
    EXPECT_EQ(parts.hostName, L"localhost");
    EXPECT_EQ(parts.port, 8443);
    EXPECT_EQ(parts.urlPath, L"/api/a b");

    UrlComponents defaults;
    defaults.hostNameCapacity = 1024;
    defaults.urlPathCapacity = 1024;
    ASSERT_TRUE(
        internet.InternetCrackUrl(L"https://service.example/api/", 0, ICU_DECODE, defaults));
    EXPECT_EQ(defaults.port, 443);
    EXPECT_EQ(defaults.urlPath, L"/api/");
}

// A port of this machine that nobody listens on.
unsigned short ClosedPort() {
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(probe);
    return ntohs(address.sin_port);
}

TEST(WinInet, UnreachableServiceGivesTheCannotConnectNumberAndNoStatus) {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    WinInetInternet internet("localhost:8443:127.0.0.1:" + std::to_string(ClosedPort()));
    Agent agent;
    agent.ports.internet = &internet;
    test::ConsoleCapture console;
    int status = -1;
    std::string reply = "unchanged";
    SendRequest(agent, "GET", "devices/1/heart-beat", "", status, reply);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply, "");
    ASSERT_EQ(console.Lines().size(), 2u) << console.Text();
    EXPECT_EQ(console.Lines()[0], "12029");
    EXPECT_EQ(console.Lines()[1], "Could not read data");
    ::WSACleanup();
}

}  // namespace
}  // namespace lumivo

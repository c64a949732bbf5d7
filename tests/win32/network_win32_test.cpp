// The WinINet and IP Helper adapters under Wine, through the core that uses
// them: URL splitting, an unreachable service, and the adapter list with its
// re-sized second call.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/agent.h"
#include "base/text.h"
#include "cloud/transport.h"
#include "connections/adapters.h"
#include "fakes/console_capture.h"
#include "platform/win32/internet_wininet.h"
#include "platform/win32/ip_helper_win32.h"
#include "platform/win32/windows_api.h"

namespace lumivo {
namespace {

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

TEST(Win32IpHelper, TooSmallARoomTellsTheSizeAndTheSecondCallListsTheAdapters) {
    Win32IpHelper ipHelper;
    unsigned long size = 1;
    AdapterList list;
    ASSERT_EQ(ipHelper.GetAdaptersInfo(&list, size), errorBufferOverflow);
    EXPECT_GE(size, sizeof(IP_ADAPTER_INFO));
    EXPECT_TRUE(list.empty());

    ASSERT_EQ(ipHelper.GetAdaptersInfo(&list, size), 0u);
    ASSERT_FALSE(list.empty());
    for (const AdapterInfo& adapter : list) {
        EXPECT_FALSE(adapter.adapterName.empty());
        ASSERT_FALSE(adapter.ipAddressList.empty()) << adapter.adapterName;
        for (const IpAddrString& entry : adapter.ipAddressList) {
            EXPECT_EQ(::inet_addr(entry.ipAddress.c_str()) == INADDR_NONE &&
                          entry.ipAddress != "255.255.255.255",
                      false)
                << entry.ipAddress;
        }
    }
}

TEST(Win32IpHelper, CoreReportsEveryAdapterAndNoVpn) {
    Win32IpHelper ipHelper;
    Agent agent;
    agent.ports.ipHelper = &ipHelper;
    std::unique_ptr<AdapterList> list = GetAdapterList(agent);
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(IsVpnAdapterPresent(agent));
    EXPECT_FALSE(FindVpnAddress(agent).has_value());
    JsonTree report(BuildInterfaceReport(agent));
    EXPECT_EQ(cJSON_GetArraySize(report.get()), static_cast<int>(list->size()));
    const cJSON* first =
        cJSON_GetObjectItemCaseSensitive(report.get(), list->front().adapterName.c_str());
    ASSERT_TRUE(cJSON_IsArray(first));
    std::string ip;
    EXPECT_TRUE(GetJsonString(cJSON_GetArrayItem(first, 0), "ip", ip));
    EXPECT_EQ(ip, list->front().ipAddressList.front().ipAddress);
}

}  // namespace
}  // namespace lumivo

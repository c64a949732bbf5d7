// The six device calls and the operator interface, over real HTTPS.

#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/constants.h"
#include "base/text.h"
#include "tests/devcloud/devcloud_fixture.h"

namespace lumivo {
namespace {

std::string Member(const std::string& json, const char* name) {
    JsonTree tree(ParseJson(json));
    std::string value;
    GetJsonString(tree.get(), name, value);
    return value;
}

class DevCloudTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(cloud.Start()) << cloud.listeningLine();
        ASSERT_TRUE(cloud.Enrol(id, password, token));
    }
    std::string Login(const std::string& pw) {
        return std::string("secretKey=") + expectedEnrolmentSecret + "&password=" + pw +
               "&version=1.1.1";
    }
    HttpReply Poll(const std::string& connectionsPassword) {
        return cloud.Device("POST", "connections/check-requests", "password=" + connectionsPassword,
                            token);
    }

    DevCloud cloud;
    int id = 0;
    std::string password;
    std::string token;
};

TEST_F(DevCloudTest, EnrolmentIssuesNewIdentitiesAndRefusesAWrongSecret) {
    int id2 = 0;
    std::string password2, token2;
    ASSERT_TRUE(cloud.Enrol(id2, password2, token2));
    EXPECT_NE(id, id2);
    EXPECT_NE(password, password2);
    EXPECT_NE(token, token2);

    HttpReply wrong =
        cloud.Device("POST", "devices", "secretKey=v61947.03&typeCode=wince&version=1.1.1");
    EXPECT_EQ(404, wrong.status);
    EXPECT_FALSE(Member(wrong.body, "message").empty());
    HttpReply none = cloud.Device("POST", "devices", "");
    EXPECT_EQ(404, none.status);
    ASSERT_EQ(2u, cloud.Devices().size());
    EXPECT_EQ(24u, cloud.Devices().at(1).enrolledAt.size()) << cloud.Devices().at(1).enrolledAt;
}

TEST(DevCloudSecret, TheEnrolmentSecretIsTheOneOnTheCommandLine) {
    DevCloud cloud({"--enrolment-secret", "other-secret"});
    ASSERT_TRUE(cloud.Start());
    int id = 0;
    std::string password, token;
    EXPECT_TRUE(cloud.Enrol(id, password, token));
    EXPECT_EQ(404, cloud.Device("POST", "devices", "secretKey=v61947.02").status);
    EXPECT_EQ(404, cloud.Device("POST", "devices/1/login",
                                "secretKey=v61947.02&password=" + password + "&version=1")
                       .status);
}

TEST_F(DevCloudTest, ConcurrentEnrolmentsAllGetTheirOwnIdentity) {
    constexpr int callers = 12;
    std::vector<int> ids(callers, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < callers; ++i)
        threads.emplace_back([this, &ids, i] {
            std::string pw, tok;
            cloud.Enrol(ids[i], pw, tok);
        });
    for (std::thread& t : threads) t.join();
    std::set<int> distinct(ids.begin(), ids.end());
    EXPECT_EQ(static_cast<std::size_t>(callers), distinct.size());
    EXPECT_EQ(0u, distinct.count(0));
    EXPECT_EQ(callers + 1u, cloud.Devices().size());
    EXPECT_EQ(callers + 1u, cloud.Log().size());
}

TEST_F(DevCloudTest, LoginNeedsTheIssuedPasswordAndTheSecret) {
    EXPECT_EQ("", cloud.Devices().at(0).lastLogin);
    HttpReply ok =
        cloud.Device("POST", "devices/" + std::to_string(id) + "/login", Login(password));
    ASSERT_EQ(200, ok.status);
    const std::string newToken = Member(ok.body, "token");
    EXPECT_EQ(24u, cloud.Devices().at(0).lastLogin.size()) << cloud.Devices().at(0).lastLogin;
    EXPECT_FALSE(newToken.empty());
    EXPECT_NE(token, newToken);
    EXPECT_EQ(
        200,
        cloud.Device("GET", "devices/" + std::to_string(id) + "/heart-beat", "", newToken).status);

    for (const std::string& path :
         {"devices/" + std::to_string(id) + "/login", std::string("devices/9999/login"),
          std::string("devices/x/login")}) {
        HttpReply bad = cloud.Device(
            "POST", path, Login(path.find("9999") != std::string::npos ? password : "nope"));
        EXPECT_EQ(404, bad.status) << path;
        EXPECT_FALSE(Member(bad.body, "message").empty()) << path;
    }
    HttpReply badSecret = cloud.Device("POST", "devices/" + std::to_string(id) + "/login",
                                       "secretKey=x&password=" + password + "&version=1.1.1");
    EXPECT_EQ(404, badSecret.status);
}

TEST_F(DevCloudTest, HeartBeatNeedsTheDevicesOwnTokenAndMarksItOnline) {
    const std::string path = "devices/" + std::to_string(id) + "/heart-beat";
    EXPECT_FALSE(cloud.Devices().at(0).online);

    HttpReply missing = cloud.Device("GET", path, "");
    EXPECT_EQ(401, missing.status);
    EXPECT_FALSE(Member(missing.body, "message").empty());
    EXPECT_EQ(401, cloud.Device("GET", path, "", "not-a-token").status);
    EXPECT_TRUE(cloud.Devices().at(0).lastSeen.empty());

    int other = 0;
    std::string otherPassword, otherToken;
    ASSERT_TRUE(cloud.Enrol(other, otherPassword, otherToken));
    EXPECT_EQ(403, cloud.Device("GET", path, "", otherToken).status);
    EXPECT_EQ(404, cloud.Device("GET", "devices/9999/heart-beat", "", token).status);

    ASSERT_EQ(200, cloud.Device("GET", path, "", token).status);
    CloudDevice device = cloud.Devices().at(0);
    EXPECT_TRUE(device.online);
    EXPECT_EQ(24u, device.lastSeen.size()) << device.lastSeen;  // 2026-12-08T04:40:00.123Z
    EXPECT_FALSE(cloud.Devices().at(1).online);
}

TEST_F(DevCloudTest, AVpnRequestGoesFromOperatorToDeviceAndTheAnswerBack) {
    // A connections password with "&" and "=" arrives unencoded, as the agent sends it.
    ASSERT_TRUE(cloud.SetConnectionsPassword(id, "p&w=1"));
    int request = cloud.CreateVpnRequest(id, "vpn.example.net", "user", "secret", "CORP", "k&y=");
    ASSERT_NE(0, request);

    HttpReply wrong = Poll("p");
    EXPECT_EQ(403, wrong.status);
    EXPECT_FALSE(Member(wrong.body, "message").empty());
    EXPECT_EQ(401, cloud.Device("POST", "connections/check-requests", "password=p&w=1").status);

    HttpReply poll = Poll("p&w=1");
    ASSERT_EQ(200, poll.status);
    JsonTree list(ParseJson(poll.body));
    const cJSON* data = cJSON_GetObjectItemCaseSensitive(list.get(), "data");
    ASSERT_EQ(1, cJSON_GetArraySize(data));
    const cJSON* item = cJSON_GetArrayItem(data, 0);
    std::int32_t listedId = 0;
    ASSERT_TRUE(GetJsonInt(item, "id", listedId));
    EXPECT_EQ(request, listedId);
    EXPECT_EQ("request", Member(PrintJson(item), "status"));
    EXPECT_EQ("vpn", Member(PrintJson(item), "type"));
    const std::string parameters = Member(PrintJson(item), "data");
    EXPECT_EQ("vpn.example.net", Member(parameters, "url"));
    EXPECT_EQ("user", Member(parameters, "username"));
    EXPECT_EQ("secret", Member(parameters, "password"));
    EXPECT_EQ("CORP", Member(parameters, "domain"));
    EXPECT_EQ("k&y=", Member(parameters, "preSharedKey"));

    // The agent's answer: cJSON's formatted text, unencoded, which itself
    // holds "&" and "=" and even "&data=".
    const std::string answerData =
        "{\n\t\"url\":\t\"vpn.example.net\",\n\t\"preSharedKey\":\t\"k&y=&data=x\",\n"
        "\t\"serverIp\":\t\"10.8.0.6\",\n"
        "\t\"networkInterfaces\":\t{\n\t\t\"eth0\":\t[{\n\t\t\t\t\"ip\":\t\"192.168.1.20\",\n"
        "\t\t\t\t\"mask\":\t\"255.255.255.0\"\n\t\t\t}]\n\t}\n}";
    ASSERT_EQ(200, cloud
                       .Device("PUT", "connections/" + std::to_string(request),
                               "status=vpn-created&data=" + answerData, token)
                       .status);
    CloudRequest seen = cloud.Requests().at(0);
    EXPECT_EQ("vpn-created", seen.status);
    ASSERT_TRUE(seen.answered);
    EXPECT_EQ("vpn-created", seen.answerStatus);
    EXPECT_EQ(answerData, seen.answerData);
    EXPECT_EQ("10.8.0.6", seen.serverIp);
    EXPECT_EQ(R"({"eth0":[{"ip":"192.168.1.20","mask":"255.255.255.0"}]})",
              seen.networkInterfacesJson);

    HttpReply again = Poll("p&w=1");
    EXPECT_NE(std::string::npos, again.body.find("\"status\":\"vpn-created\"")) << again.body;
}

TEST_F(DevCloudTest, ErrorAnswersAreRecordedAndNoLongerListed) {
    int first = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    int second = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    const std::string body = R"(status=error&data={"error":"vpn-disabled"})";
    ASSERT_EQ(200, cloud.Device("PUT", "connections/" + std::to_string(first), body, token).status);

    std::vector<CloudRequest> requests = cloud.Requests();
    EXPECT_EQ("error", requests.at(0).status);
    EXPECT_EQ("error", requests.at(0).answerStatus);
    EXPECT_EQ(R"({"error":"vpn-disabled"})", requests.at(0).answerData);
    EXPECT_EQ("", requests.at(0).serverIp);
    EXPECT_FALSE(requests.at(1).answered);

    HttpReply poll = Poll("");
    EXPECT_EQ(std::string::npos, poll.body.find("\"id\":" + std::to_string(first) + ","));
    EXPECT_NE(std::string::npos, poll.body.find("\"id\":" + std::to_string(second) + ","));

    // A status other than "vpn-created" counts as an error too.
    ASSERT_EQ(
        200, cloud.Device("PUT", "connections/" + std::to_string(second), "status=odd&data=", token)
                 .status);
    EXPECT_EQ("error", cloud.Requests().at(1).status);
}

TEST_F(DevCloudTest, AnswersToUnknownEndedOrForeignRequestsAreRefused) {
    int request = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    const std::string body = "status=vpn-created&data={}";
    for (const char* path : {"connections/0", "connections/9999", "connections/abc"}) {
        HttpReply reply = cloud.Device("PUT", path, body, token);
        EXPECT_EQ(404, reply.status) << path;
        EXPECT_FALSE(Member(reply.body, "message").empty()) << path;
    }
    int other = 0;
    std::string otherPassword, otherToken;
    ASSERT_TRUE(cloud.Enrol(other, otherPassword, otherToken));
    EXPECT_EQ(
        404,
        cloud.Device("PUT", "connections/" + std::to_string(request), body, otherToken).status);
    EXPECT_EQ(401, cloud.Device("PUT", "connections/" + std::to_string(request), body).status);
    EXPECT_EQ(
        400,
        cloud.Device("PUT", "connections/" + std::to_string(request), "data={}", token).status);
    EXPECT_FALSE(cloud.Requests().at(0).answered);

    ASSERT_TRUE(cloud.EndRequest(request));
    EXPECT_EQ(409,
              cloud.Device("PUT", "connections/" + std::to_string(request), body, token).status);
    EXPECT_EQ("ended", cloud.Requests().at(0).status);
    EXPECT_EQ(404, cloud.Operator("DELETE", "requests/9999").status);
}

TEST_F(DevCloudTest, DisconnectAllEndsOnlyThisDevicesOpenRequests) {
    int other = 0;
    std::string otherPassword, otherToken;
    ASSERT_TRUE(cloud.Enrol(other, otherPassword, otherToken));
    int mine = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    int answered = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    int theirs = cloud.CreateVpnRequest(other, "a", "b", "c", "d", "e");
    ASSERT_EQ(200, cloud
                       .Device("PUT", "connections/" + std::to_string(answered),
                               "status=vpn-created&data={}", token)
                       .status);

    EXPECT_EQ(401, cloud.Device("DELETE", "connections/disconnect-all", "").status);
    ASSERT_EQ(200, cloud.Device("DELETE", "connections/disconnect-all", "", token).status);
    EXPECT_EQ(R"({"data":[]})", Poll("").body);
    std::vector<CloudRequest> requests = cloud.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(mine, requests[0].id);
    EXPECT_EQ("ended", requests[0].status);
    EXPECT_EQ("ended", requests[1].status);
    EXPECT_TRUE(requests[1].answered);  // the answer stays readable
    EXPECT_EQ(theirs, requests[2].id);
    EXPECT_EQ("request", requests[2].status);
}

TEST_F(DevCloudTest, TheLogCanBeNarrowedToOneDevice) {
    int other = 0;
    std::string otherPassword, otherToken;
    ASSERT_TRUE(cloud.Enrol(other, otherPassword, otherToken));
    const std::string mine = "devices/" + std::to_string(id) + "/heart-beat";
    cloud.Device("GET", mine, "", token);
    cloud.Device("POST", "connections/check-requests", "password=", otherToken);
    cloud.Device("GET", mine, "", otherToken);  // 403: its token, my path
    cloud.Device("GET", "devices/9999/heart-beat", "");

    auto paths = [](const std::vector<LoggedCall>& calls) {
        std::vector<std::string> out;
        for (const LoggedCall& c : calls) out.push_back(c.method + " " + c.path);
        return out;
    };
    const std::string heartBeat = "GET /api/" + mine;
    EXPECT_EQ((std::vector<std::string>{"POST /api/devices", heartBeat, heartBeat}),
              paths(cloud.Log(id)));
    EXPECT_EQ((std::vector<std::string>{"POST /api/devices",
                                        "POST /api/connections/check-requests", heartBeat}),
              paths(cloud.Log(other)));
    EXPECT_TRUE(cloud.Log(4242).empty());
    EXPECT_EQ(6u, cloud.Log().size());
    EXPECT_EQ(400, cloud.Operator("GET", "log?device=x").status);
}

TEST(DevCloudOperator, EveryApiRequestNeedsTheTokenOnEveryBind) {
    for (const char* bind : {"127.0.0.1", "127.0.0.3"}) {
        DevCloud cloud({"--operator-bind", bind});
        ASSERT_TRUE(cloud.Start()) << cloud.listeningLine();
        EXPECT_EQ(bind, cloud.operatorHost());
        const std::string token = cloud.operatorToken();
        ASSERT_EQ(48u, token.size());
        EXPECT_EQ("devcloud console " + cloud.operatorUrl() + "?token=" + token, cloud.tokenLine());

        EXPECT_EQ(200, cloud.Operator("GET", "devices").status);
        for (const std::string& wrong :
             {std::string(), std::string(token.size(), 'a'), token + "a"}) {
            cloud.UseOperatorToken(wrong);
            for (const char* path : {"devices", "log", "faults", "no-such-route"}) {
                HttpReply refused = cloud.Operator("GET", path);
                EXPECT_EQ(401, refused.status) << bind << " " << path;
                EXPECT_FALSE(Member(refused.body, "message").empty()) << path;
            }
            EXPECT_EQ(401, cloud.Operator("POST", "faults", R"({"path":"/api/devices"})").status);
        }
        // The page itself holds nothing secret: it comes without the token.
        EXPECT_EQ(200, cloud.Operator("GET", "").status);
        cloud.UseOperatorToken(token);
        EXPECT_EQ("[]", cloud.Operator("GET", "faults").body);

        // A restart makes a new token; the old one is refused.
        ASSERT_TRUE(cloud.Restart());
        EXPECT_NE(token, cloud.operatorToken());
        EXPECT_EQ(200, cloud.Operator("GET", "devices").status);
        cloud.UseOperatorToken(token);
        EXPECT_EQ(401, cloud.Operator("GET", "devices").status);
    }
}

// What a page of another origin, or one reached under another name (DNS
// rebinding), can send: none of it gets through, token or not.
TEST_F(DevCloudTest, OnlyTheConsolesOwnOriginAndNamesReachTheOperatorSide) {
    const std::string port = std::to_string(cloud.operatorPort());
    const std::string fault = R"({"path":"/api/devices"})";
    for (const std::string& host : {"attacker.example:" + port, std::string("127.0.0.1:1"), "localhost.:" + port,
                                    "127.0.0.2:" + port, "[::1]:" + port, std::string("127.0.0.1")}) {
        HttpReply reply = cloud.Operator("GET", "devices", "", {"Host: " + host});
        EXPECT_EQ(421, reply.status) << host;
        EXPECT_EQ(std::string::npos, reply.body.find(password)) << host;
    }
    EXPECT_EQ(200, cloud.Operator("GET", "devices", "", {"Host: localhost:" + port}).status);
    EXPECT_EQ(200, cloud.Operator("GET", "devices", "", {"Host: LOCALHOST:" + port}).status);

    for (const char* type : {"Content-Type: text/plain", "Content-Type:",
                             "Content-Type: application/x-www-form-urlencoded",
                             "Content-Type: multipart/form-data; boundary=x"}) {
        EXPECT_EQ(415, cloud.Operator("POST", "faults", fault, {type}).status) << type;
        EXPECT_EQ(415, cloud.Operator("DELETE", "log", "", {type}).status) << type;
    }
    EXPECT_EQ(200, cloud.Operator("POST", "faults", fault,
                                  {"Content-Type: Application/JSON; charset=utf-8"})
                       .status);
    for (const char* origin : {"Origin: http://attacker.example", "Origin: null",
                               "Origin: http://localhost:1", "Origin: https://127.0.0.1"}) {
        EXPECT_EQ(403, cloud.Operator("POST", "faults", fault, {origin}).status) << origin;
        EXPECT_EQ(403, cloud.Operator("GET", "devices", "", {origin}).status) << origin;
    }
    EXPECT_EQ(200, cloud.Operator("POST", "faults", fault, {"Origin: http://127.0.0.1:" + port})
                       .status);
    JsonTree faults(ParseJson(cloud.Operator("GET", "faults").body));
    EXPECT_EQ(2, cJSON_GetArraySize(faults.get()));  // only the two the operator sent
}

TEST(DevCloudFiles, TheDataFolderAndItsSecretsAreOwnerOnlyWhateverTheUmask) {
    const mode_t old = umask(0);
    DevCloud cloud;
    const bool started = cloud.Start();
    umask(old);
    ASSERT_TRUE(started);
    int id = 0;
    std::string password, token;
    ASSERT_TRUE(cloud.Enrol(id, password, token));
    auto mode = [&](const std::string& name) {
        struct stat info {};
        return stat((cloud.dataDir() + name).c_str(), &info) == 0 ? info.st_mode & 0777 : 0777u;
    };
    EXPECT_EQ(0700u, mode(""));
    for (const char* name : {"/devcloud.db", "/devcloud.db-wal", "/operator-token", "/key.pem"})
        EXPECT_EQ(0600u, mode(name)) << name;
}

TEST_F(DevCloudTest, RequestsKeepTheirTimesAndDevicesTheirPolls) {
    EXPECT_EQ("", cloud.Devices().at(0).lastPoll);
    EXPECT_FALSE(cloud.Devices().at(0).polling);
    int request = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    CloudRequest created = cloud.Requests().at(0);
    ASSERT_EQ(24u, created.createdAt.size()) << created.createdAt;
    EXPECT_EQ(created.createdAt, created.changedAt);

    ASSERT_EQ(403, Poll("wrong").status);  // it polls, so its connections are on
    CloudDevice polled = cloud.Devices().at(0);
    EXPECT_TRUE(polled.polling);
    EXPECT_EQ(24u, polled.lastPoll.size()) << polled.lastPoll;

    usleep(20000);
    ASSERT_EQ(200, cloud
                       .Device("PUT", "connections/" + std::to_string(request),
                               "status=vpn-created&data={}", token)
                       .status);
    CloudRequest answered = cloud.Requests().at(0);
    EXPECT_EQ(created.createdAt, answered.createdAt);
    EXPECT_LT(created.changedAt, answered.changedAt);
    usleep(20000);
    ASSERT_TRUE(cloud.EndRequest(request));
    const std::string ended = cloud.Requests().at(0).changedAt;
    EXPECT_LT(answered.changedAt, ended);
    ASSERT_TRUE(cloud.EndRequest(request));  // again: nothing changes
    EXPECT_EQ(ended, cloud.Requests().at(0).changedAt);
}

TEST_F(DevCloudTest, ADeletedDeviceIsGoneItsRequestsEndedAndItsTokensDead) {
    int other = 0;
    std::string otherPassword, otherToken;
    ASSERT_TRUE(cloud.Enrol(other, otherPassword, otherToken));
    int request = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    int theirs = cloud.CreateVpnRequest(other, "a", "b", "c", "d", "e");

    ASSERT_EQ(200, cloud.Operator("DELETE", "devices/" + std::to_string(id)).status);
    EXPECT_EQ(404, cloud.Operator("DELETE", "devices/" + std::to_string(id)).status);
    EXPECT_EQ(404, cloud.Operator("DELETE", "devices/9999").status);
    ASSERT_EQ(1u, cloud.Devices().size());
    EXPECT_EQ(other, cloud.Devices().at(0).id);
    std::vector<CloudRequest> requests = cloud.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(request, requests[0].id);
    EXPECT_EQ("ended", requests[0].status);  // kept, as history
    EXPECT_EQ(theirs, requests[1].id);
    EXPECT_EQ("request", requests[1].status);

    const std::string mine = "devices/" + std::to_string(id);
    EXPECT_EQ(401, cloud.Device("GET", mine + "/heart-beat", "", token).status);
    EXPECT_EQ(404, cloud.Device("POST", mine + "/login", Login(password)).status);
    EXPECT_EQ(0, cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e"));
    int again = 0;
    std::string pw, tok;
    ASSERT_TRUE(cloud.Enrol(again, pw, tok));
    EXPECT_GT(again, other);  // an id is never given twice
}

TEST_F(DevCloudTest, TheLogIsReadFromAnIdOnAndItsNewestEntries) {
    for (int i = 0; i < 4; ++i) cloud.Device("GET", "devices/1/heart-beat", "", token);
    std::vector<LoggedCall> all = cloud.Log();
    ASSERT_EQ(5u, all.size());
    HttpReply since = cloud.Operator("GET", "log?since=3");
    ASSERT_EQ(200, since.status);
    JsonTree entries(ParseJson(since.body));
    ASSERT_EQ(2, cJSON_GetArraySize(entries.get()));
    std::int32_t first = 0;
    ASSERT_TRUE(GetJsonInt(cJSON_GetArrayItem(entries.get(), 0), "id", first));
    EXPECT_EQ(4, first);
    EXPECT_EQ("[]", cloud.Operator("GET", "log?since=5").body);
    JsonTree newest(ParseJson(cloud.Operator("GET", "log?last=2&device=1").body));
    ASSERT_EQ(2, cJSON_GetArraySize(newest.get()));
    ASSERT_TRUE(GetJsonInt(cJSON_GetArrayItem(newest.get(), 1), "id", first));
    EXPECT_EQ(5, first);
    for (const char* bad : {"log?since=x", "log?since=-1", "log?last=0", "log?device=abc"})
        EXPECT_EQ(400, cloud.Operator("GET", bad).status) << bad;
    // Cleared, the ids go on: a reader that asks from its last id sees only what is new.
    ASSERT_TRUE(cloud.ClearLog());
    cloud.Device("GET", "devices/1/heart-beat", "", token);
    JsonTree after(ParseJson(cloud.Operator("GET", "log?since=5").body));
    ASSERT_EQ(1, cJSON_GetArraySize(after.get()));
    ASSERT_TRUE(GetJsonInt(cJSON_GetArrayItem(after.get(), 0), "id", first));
    EXPECT_EQ(6, first);
}

TEST_F(DevCloudTest, OperatorRefusesBadInput) {
    EXPECT_EQ(404, cloud.Operator("POST", "devices/9999/requests", R"({"type":"vpn"})").status);
    EXPECT_EQ(400, cloud.Operator("POST", "devices/1/requests", "not json").status);
    EXPECT_EQ(
        404,
        cloud.Operator("PUT", "devices/9999/connections-password", R"({"password":"x"})").status);
    EXPECT_EQ(400,
              cloud.Operator("PUT", "devices/1/connections-password", R"({"password":1})").status);
    EXPECT_EQ(400, cloud.Operator("POST", "faults", R"({"count":1})").status);
    EXPECT_EQ(400, cloud.Operator("POST", "faults", R"({"path":"/api/devices","count":0})").status);
    HttpReply unknown = cloud.Operator("GET", "nothing-here");
    EXPECT_EQ(404, unknown.status);
    EXPECT_FALSE(Member(unknown.body, "message").empty());
}

TEST_F(DevCloudTest, OperatorCanHandTheDeviceAnyDataTextAndStatus) {
    HttpReply created =
        cloud.Operator("POST", "devices/" + std::to_string(id) + "/requests",
                       R"({"type":"vpn","status":"vpn-created","data":"not json"})");
    ASSERT_EQ(200, created.status);
    EXPECT_EQ(R"({"data":[{"id":1,"status":"vpn-created","type":"vpn","data":"not json"}]})",
              Poll("").body);
}

TEST_F(DevCloudTest, ARestartKeepsDevicesTokensAndRequests) {
    ASSERT_TRUE(cloud.SetConnectionsPassword(id, "pw"));
    int request = cloud.CreateVpnRequest(id, "a", "b", "c", "d", "e");
    ASSERT_EQ(200, cloud
                       .Device("PUT", "connections/" + std::to_string(request),
                               R"(status=vpn-created&data={"serverIp":"10.0.0.9"})", token)
                       .status);
    const int port = cloud.port();
    const int operatorPort = cloud.operatorPort();

    ASSERT_TRUE(cloud.Restart());
    EXPECT_EQ(port, cloud.port());
    EXPECT_EQ(operatorPort, cloud.operatorPort());
    // The running agent keeps its token across a restart of the service.
    EXPECT_EQ(
        200,
        cloud.Device("GET", "devices/" + std::to_string(id) + "/heart-beat", "", token).status);
    EXPECT_EQ(
        200,
        cloud.Device("POST", "devices/" + std::to_string(id) + "/login", Login(password)).status);
    ASSERT_EQ(1u, cloud.Devices().size());
    EXPECT_EQ("pw", cloud.Devices().at(0).connectionsPassword);
    ASSERT_EQ(1u, cloud.Requests().size());
    EXPECT_EQ("10.0.0.9", cloud.Requests().at(0).serverIp);
    EXPECT_NE(std::string::npos, Poll("pw").body.find("vpn-created"));
    int id2 = 0;
    std::string password2, token2;
    ASSERT_TRUE(cloud.Enrol(id2, password2, token2));
    EXPECT_GT(id2, id);
}

}  // namespace
}  // namespace lumivo

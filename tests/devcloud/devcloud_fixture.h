#pragma once
// Runs the devcloud binary for a test: a fresh data folder, free ports, the
// operator calls, and device calls made the way the agent makes them.
//
//   lumivo::DevCloud cloud;              // or DevCloud({"--cert-expired"})
//   ASSERT_TRUE(cloud.Start());
//   cloud.baseUrl();                     // "https://127.0.0.1:<port>/api/"
//   int id; std::string password, token;
//   cloud.Enrol(id, password, token);
//   int request = cloud.CreateVpnRequest(id, "vpn.example", "user", "pw", "dom", "psk");
//   cloud.Log();                         // every device call as it came over the wire

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace lumivo {

// The enrolment secret the tests expect the agent to send; devcloud is told
// it on its command line.
inline constexpr const char* expectedEnrolmentSecret = "v61947.02";

struct HttpReply {
    long status = 0;  // 0: no answer (see error)
    std::string body;
    std::string error;
};

struct CloudDevice {
    int id = 0;
    std::string enrolledAt;  // ISO time
    std::string lastSeen;    // ISO time, empty when never seen
    std::string lastLogin;   // ISO time, empty when never logged in
    bool online = false;
    std::string lastPoll;  // ISO time, empty when it never polled
    bool polling = false;  // polled in the last 15 s: its connections are on
    std::string connectionsPassword;
    std::string password;
    std::string version;
};

struct CloudRequest {
    int id = 0;
    int deviceId = 0;
    std::string type;
    std::string status;  // "request", "vpn-created", "error" or "ended"
    std::string data;
    std::string createdAt;  // ISO times
    std::string changedAt;
    bool answered = false;
    std::string answerStatus;
    std::string answerData;             // the answer's "data" text as sent
    std::string serverIp;               // picked out of the answer's data
    std::string networkInterfacesJson;  // compact JSON text of "networkInterfaces"
};

struct LoggedCall {
    std::string method;
    std::string path;  // as sent, for example "/api/devices/1/heart-beat"
    std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
    std::string head;  // request line and headers, bytes as received (up to the empty line)
    std::string body;  // bytes as received
    bool complete = false;
    int status = 0;            // status answered, 0 when none was
    long long receivedMs = 0;  // arrival of the head, milliseconds since the epoch
    std::string replyHead;     // the answer as it went out: status line and headers
    std::string replyBody;
    bool replyTruncated = false;
};

struct FaultSpec {
    std::string path;  // full path, for example "/api/connections/check-requests"
    int count = 1;
    int status = 0;  // 0: served normally (with the delay or drop)
    std::string body;
    int delayMs = 0;
    bool drop = false;         // cut the connection in the middle of the answer
    long dropAfterBytes = -1;  // with drop: bytes of the answer sent before the cut
};

class DevCloud {
  public:
    // extraArgs go to the command line (certificate options, "--prefix").
    // "--enrolment-secret expectedEnrolmentSecret" goes first unless they
    // name one.
    // Ports 0 pick free ones at the first start; a restart keeps them.
    explicit DevCloud(std::vector<std::string> extraArgs = {}, int port = 0, int operatorPort = 0);
    ~DevCloud();  // stops it and removes the data folder
    DevCloud(const DevCloud&) = delete;
    DevCloud& operator=(const DevCloud&) = delete;

    // Starts the binary and waits up to 10 s for its listening line and
    // the console's address after it.
    bool Start();
    // Sends the signal (SIGTERM unless told) and waits; true when it ended
    // with status 0.
    bool Stop(int signal = 15);
    // Stop, then start on the same ports and data folder.
    bool Restart();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    int port() const { return port_; }
    int operatorPort() const { return operatorPort_; }
    std::string baseUrl() const;           // "https://127.0.0.1:<port>/api/" (or the --prefix)
    std::string localhostBaseUrl() const;  // "https://localhost:<port>/api/"
    std::string operatorUrl() const;       // "http://127.0.0.1:<operatorPort>/"
    // Hosts as in the listening line, IPv6 in brackets.
    const std::string& host() const { return host_; }
    const std::string& operatorHost() const { return operatorHost_; }
    const std::string& dataDir() const { return dataDir_; }
    std::string certFile() const;  // the normal certificate, "<dataDir>/cert.pem"
    const std::string& listeningLine() const { return line_; }
    // "devcloud console http://HOST:PORT/?token=TOKEN"
    const std::string& tokenLine() const { return tokenLine_; }
    // The operator token read from the data folder after the start;
    // Operator() sends it. Tests may swap it.
    const std::string& operatorToken() const { return operatorToken_; }
    void UseOperatorToken(const std::string& token) { operatorToken_ = token; }

    // Operator interface (plain HTTP, JSON). A header in `headers` takes the
    // place of the one sent by default ("Content-Type", "Authorization",
    // "Host"); "Name:" alone leaves it out.
    HttpReply Operator(const std::string& method, const std::string& path,
                       const std::string& jsonBody = "",
                       const std::vector<std::string>& headers = {});
    std::vector<CloudDevice> Devices();
    bool SetConnectionsPassword(int deviceId, const std::string& password);
    // The new request's id, or 0.
    int CreateVpnRequest(int deviceId, const std::string& url, const std::string& username,
                         const std::string& password, const std::string& domain,
                         const std::string& preSharedKey);
    std::vector<CloudRequest> Requests();
    bool EndRequest(int requestId);
    // deviceId other than 0: only the calls about that device.
    std::vector<LoggedCall> Log(int deviceId = 0);
    bool ClearLog();
    bool AddFault(const FaultSpec& fault);
    bool ClearFaults();

    // A device call as the agent sends it: "x-access-token" first when token
    // is not empty, then "Content-Type: application/x-www-form-urlencoded",
    // the body unencoded. path is relative to baseUrl(). The certificate is
    // checked against certFile() when the normal one is served.
    HttpReply Device(const std::string& method, const std::string& path, const std::string& body,
                     const std::string& token = "");
    // Enrols a new device with the secret devcloud was given.
    bool Enrol(int& id, std::string& password, std::string& token);

  private:
    std::vector<std::string> extraArgs_;
    std::string dataDir_;
    std::string line_;
    std::string tokenLine_;
    std::string operatorToken_;
    std::string enrolmentSecret_ = expectedEnrolmentSecret;
    std::string host_ = "127.0.0.1";
    std::string operatorHost_ = "127.0.0.1";
    std::string prefix_ = "/api/";
    int port_;
    int operatorPort_;
    pid_t pid_ = -1;
};

}  // namespace lumivo

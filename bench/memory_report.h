#pragma once
// Resident memory of this process, as the memory benchmarks print it: one
// JSON line per checkpoint, {"client":..., "ticks":N, "rssKb":..., "peakRssKb":...},
// and at the end where the resident pages are, summed by mapping (each shared
// library, the executable, the heap, other anonymous memory).

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "base/constants.h"
#include "base/text.h"

namespace lumivo::bench {

// Enrols a device through `client` (any client with the floor's Request) and
// gives its token and heart-beat path; false, after a line, when devcloud does
// not answer.
template <typename Client>
bool EnrolForTicks(Client& client, const char* name, std::string& token, std::string& heartBeat) {
    std::string reply;
    const std::string enrol = std::string("secretKey=") + enrolmentSecret +
                              "&typeCode=" + deviceTypeCode + "&version=" + agentVersion;
    if (client.Request("POST", "devices", enrol, "", reply) != 200) {
        std::fprintf(stderr, "%s: devcloud does not answer (LUMIVO_BENCH_PORT)\n", name);
        return false;
    }
    std::int32_t id = 0;
    JsonTree tree(ParseJson(reply));
    GetJsonInt(tree.get(), "id", id);
    GetJsonString(tree.get(), "token", token);
    heartBeat = "devices/" + IntToText(id) + "/heart-beat";
    return true;
}

// A /proc/self/status figure in kB ("VmRSS", "VmHWM").
inline long StatusKb(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) {
            return std::atol(line.c_str() + name.size() + 1);
        }
    }
    return -1;
}

inline void PrintCheckpoint(const char* client, int ticks) {
    std::printf("{\"client\":\"%s\",\"ticks\":%d,\"rssKb\":%ld,\"peakRssKb\":%ld}\n", client, ticks,
                StatusKb("VmRSS"), StatusKb("VmHWM"));
    std::fflush(stdout);
}

// Rss of /proc/self/smaps summed by the mapped file's name ("[anon]" for
// memory that maps no file).
inline void PrintMappings(const char* client) {
    std::ifstream smaps("/proc/self/smaps");
    std::map<std::string, long> kb;
    std::string current = "[anon]";
    for (std::string line; std::getline(smaps, line);) {
        if (line.compare(0, 4, "Rss:") == 0) {
            kb[current] += std::atol(line.c_str() + 4);
        } else if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
                   line.find('-') < line.find(' ')) {
            // "start-end perms offset dev inode [path]"
            std::istringstream fields(line);
            std::string range, perms, offset, dev, inode, path;
            fields >> range >> perms >> offset >> dev >> inode;
            std::getline(fields >> std::ws, path);
            const std::size_t slash = path.rfind('/');
            current = path.empty()                 ? "[anon]"
                      : slash == std::string::npos ? path
                                                   : path.substr(slash + 1);
        }
    }
    std::printf("{\"client\":\"%s\",\"mappings\":{", client);
    const char* separator = "";
    for (const auto& [name, size] : kb) {
        std::printf("%s\"%s\":%ld", separator, name.c_str(), size);
        separator = ",";
    }
    std::printf("}}\n");
    std::fflush(stdout);
}

}  // namespace lumivo::bench

#pragma once
// Resident memory of this process, as the memory benchmarks print it: one
// JSON line per checkpoint, {"client":..., "ticks":N, "rssKb":..., "peakRssKb":...},
// and at the end where the resident pages are, summed by mapping (each shared
// library, the executable, the heap, other anonymous memory).

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

// Read with C streams: C++ file streams would bring the C++ locales into the
// process and add their pages to every client's figures.

// A /proc/self/status figure in kB ("VmRSS", "VmHWM").
inline long StatusKb(const std::string& name) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    long kb = -1;
    const std::string key = name + ":";
    for (char line[256]; kb < 0 && std::fgets(line, sizeof line, status) != nullptr;) {
        if (key.compare(0, key.size(), line, std::min(key.size(), std::strlen(line))) == 0) {
            kb = std::atol(line + key.size());
        }
    }
    std::fclose(status);
    return kb;
}

inline void PrintCheckpoint(const char* client, int ticks) {
    std::printf("{\"client\":\"%s\",\"ticks\":%d,\"rssKb\":%ld,\"peakRssKb\":%ld}\n", client, ticks,
                StatusKb("VmRSS"), StatusKb("VmHWM"));
    std::fflush(stdout);
}

// Rss of /proc/self/smaps summed by the mapped file's name ("[anon]" for
// memory that maps no file).
inline void PrintMappings(const char* client) {
    std::FILE* smaps = std::fopen("/proc/self/smaps", "r");
    std::map<std::string, long> kb;
    std::string current = "[anon]";
    for (char line[4096]; smaps != nullptr && std::fgets(line, sizeof line, smaps) != nullptr;) {
        const char* space = std::strchr(line, ' ');
        const char* dash = std::strchr(line, '-');
        if (std::strncmp(line, "Rss:", 4) == 0) {
            kb[current] += std::atol(line + 4);
        } else if (std::isxdigit(static_cast<unsigned char>(line[0])) && dash != nullptr &&
                   space != nullptr && dash < space) {
            // "start-end perms offset dev inode [path]"
            int pathAt = 0;
            std::sscanf(line, "%*s %*s %*s %*s %*s %n", &pathAt);
            std::string path = pathAt > 0 ? line + pathAt : "";
            while (!path.empty() && std::isspace(static_cast<unsigned char>(path.back()))) {
                path.pop_back();
            }
            const std::size_t slash = path.rfind('/');
            current = path.empty()                 ? "[anon]"
                      : slash == std::string::npos ? path
                                                   : path.substr(slash + 1);
        }
    }
    if (smaps != nullptr) std::fclose(smaps);
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

#pragma once
// The agent binary, enrolled beforehand with a devcloud, started with
// connections and the VPN on, and what a fault or soak test reads of it: its
// lines, its resident memory and its open descriptors.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "cloud/child_process.h"
#include "devcloud/devcloud_fixture.h"
#include "soak/heap_in_use.h"

namespace lumivo::test {

// Under AddressSanitizer freed memory waits in a quarantine, so resident
// memory grows without a leak; the sanitizer's own leak check at the agent's
// exit (its exit status) stands in for the memory bounds there.
#ifdef LUMIVO_HEAP_FROM_SANITIZER
inline constexpr bool kResidentMemoryIsMeaningful = false;
#else
inline constexpr bool kResidentMemoryIsMeaningful = true;
#endif

class EnrolledAgent {
  public:
    // Enrols a device with `cloud` and writes its settings file, connections
    // and VPN enabled, so that the agent logs in at its start.
    explicit EnrolledAgent(DevCloud& cloud) : cloud_(cloud) {
        root_ = cloud.dataDir() + "-device";
        std::filesystem::create_directories(root_ + "/BOOT");
        std::string token;
        enrolled_ = cloud.Enrol(id_, password_, token);
        std::ofstream(root_ + "/BOOT/env.json")
            << R"({"id":)" << id_ << R"(,"password":")" << password_
            << R"(","connectionsEnabled":true,"connectionsPassword":"","vpnEnabled":true})";
    }
    ~EnrolledAgent() {
        process_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    EnrolledAgent(const EnrolledAgent&) = delete;
    EnrolledAgent& operator=(const EnrolledAgent&) = delete;

    bool enrolled() const { return enrolled_; }
    int id() const { return id_; }

    bool Start() {
        process_ = std::make_unique<ChildProcess>(
            AGENT_BINARY, std::vector<std::string>{"-d"},
            std::vector<std::string>{
                "LUMIVO_CONNECT_TO=localhost:8443:127.0.0.1:" + std::to_string(cloud_.port()),
                "LUMIVO_DEVICE_ROOT=" + root_, "LUMIVO_RUNTIME_DIR=" + root_,
                // the simulated VPN, its default outcomes (no script file)
                "LUMIVO_RAS_SCRIPT=" + root_ + "/ras-script"});
        return process_->Started();
    }
    ChildProcess& process() { return *process_; }
    bool Running() { return process_ && process_->Started() && kill(process_->Pid(), 0) == 0; }

    // Waits for each line in turn, the first after line `from`; the index of
    // the last, or -1 (with a failure naming the line that did not come).
    int WaitForLines(const std::vector<std::string>& lines, int from, double seconds) {
        int at = from;
        for (const std::string& line : lines) {
            const int found =
                process_->WaitForLine(line, seconds, static_cast<std::size_t>(at + 1));
            if (found < 0) {
                ADD_FAILURE() << "no line \"" << line << "\" after line " << at
                              << "; lines: " << ::testing::PrintToString(Tail(from));
                return -1;
            }
            at = found;
        }
        return at;
    }
    // True when `text` is one of the lines after `from` (up to and with `to`).
    bool Logged(const std::string& text, int from, int to) const {
        const auto& lines = process_->Lines();
        for (int i = from + 1; i <= to && i < static_cast<int>(lines.size()); ++i) {
            if (lines[i].text == text) return true;
        }
        return false;
    }
    std::vector<std::string> Tail(int from) const {
        std::vector<std::string> texts;
        const auto& lines = process_->Lines();
        for (std::size_t i = from < 0 ? 0 : from + 1; i < lines.size(); ++i) {
            texts.push_back(lines[i].text.size() > 200 ? lines[i].text.substr(0, 200) + "..."
                                                       : lines[i].text);
        }
        return texts;
    }
    int LastLine() const { return static_cast<int>(process_->Lines().size()) - 1; }

    // Resident memory in kB, from /proc.
    long RssKb() const {
        std::ifstream status("/proc/" + std::to_string(process_->Pid()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
        }
        return -1;
    }
    // What the open file descriptors lead to: sockets, files, pipes.
    std::vector<std::string> Descriptors() const {
        std::vector<std::string> open;
        const std::string folder = "/proc/" + std::to_string(process_->Pid()) + "/fd";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            open.push_back(entry.path().filename().string() + " -> " +
                           std::filesystem::read_symlink(entry.path(), error).string());
        }
        return open;
    }
    // The fewest over a second: a request in flight holds a socket and the
    // resolver's pair for a moment, between ticks the agent holds only its own.
    int OpenDescriptors() const {
        std::size_t fewest = Descriptors().size();
        for (int look = 0; look < 10; ++look) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            fewest = std::min(fewest, Descriptors().size());
        }
        return static_cast<int>(fewest);
    }

  private:
    DevCloud& cloud_;
    std::string root_;
    int id_ = 0;
    std::string password_;
    bool enrolled_ = false;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace lumivo::test

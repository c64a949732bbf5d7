// Saves the settings file over and over through the POSIX file adapter, as
// the agent does, so that a test can kill it at any moment or starve it of
// room. Usage: save-hammer COUNT PASSWORD_LENGTH. Save number i (from 1) holds
// id i and a password of PASSWORD_LENGTH times the letter 'a' + (i - 1) % 26.
#include <cstdlib>
#include <string>

#include "base/agent.h"
#include "base/settings_file.h"
#include "platform/posix/files_posix.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const long count = std::strtol(argv[1], nullptr, 10);
    const long length = std::strtol(argv[2], nullptr, 10);
    lumivo::PosixFiles files(lumivo::PosixFiles::DeviceRootFromEnvironment());
    lumivo::Agent agent;
    agent.ports.files = &files;
    for (long i = 1; i <= count; ++i) {
        agent.settings.id = static_cast<std::int32_t>(i);
        agent.settings.password = std::string(length, static_cast<char>('a' + (i - 1) % 26));
        agent.settings.connectionsEnabled = i % 2 == 0;
        lumivo::SaveSettings(agent);
    }
    return 0;
}

#include "base/settings_file.h"

#include <cstdio>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "platform/file_port.h"

namespace lumivo {

namespace {

// The settings file is a few hundred bytes; anything much longer is not one,
// and reading stops there.
const std::size_t kMaxTextFileBytes = 64 * 1024;

// Where a save on a file system without a one-step replace keeps the old file
// until the new one is in place, and where an unusable settings file is kept.
const std::string settingsCopyPath = std::string(settingsFilePath) + ".old";
const std::string settingsBadPath = std::string(settingsFilePath) + ".bad";

DeviceSettings ReadSettings(const std::string& text) {
    DeviceSettings read;
    JsonTree tree(ParseJson(text));
    GetJsonId(tree.get(), "id", read.id);
    GetJsonString(tree.get(), "password", read.password);
    GetJsonBool(tree.get(), "connectionsEnabled", read.connectionsEnabled);
    GetJsonString(tree.get(), "connectionsPassword", read.connectionsPassword);
    GetJsonBool(tree.get(), "vpnEnabled", read.vpnEnabled);
    return read;
}

void LogSettings(const DeviceSettings& settings) {
    Log("Id: " + IntToText(settings.id));
    Log("Password: " + settings.password);
    Log(std::string("Connections Enabled: ") + (settings.connectionsEnabled ? "1" : "0"));
    Log("Connections Password: " + settings.connectionsPassword);
    Log(std::string("VPN Enabled: ") + (settings.vpnEnabled ? "1" : "0"));
}

// Replaces `to` where the file system cannot do it in one step: the old file
// waits as `to` + ".old" until the new one is in place, so that at every
// moment one of the two is a whole file (the reader takes the copy when the
// file itself is missing).
ReplaceOutcome::Value ReplaceKeepingCopy(FilePort& files, const std::string& from,
                                         const std::string& to) {
    const std::string copy = to + ".old";
    if (files.Exists(to)) {
        // A copy beside the file is left from an interrupted save: stale.
        if (files.Exists(copy) && !files.Remove(copy)) return ReplaceOutcome::failed;
        if (!files.Move(to, copy)) return ReplaceOutcome::failed;
    }
    if (!files.Move(from, to)) {
        files.Move(copy, to);
        return ReplaceOutcome::failed;
    }
    files.Remove(copy);
    return ReplaceOutcome::replaced;
}

// Replaces `to` by `from` in one step where the file system can, otherwise
// through the copy above.
ReplaceOutcome::Value ReplaceFile(FilePort& files, const std::string& from, const std::string& to) {
    ReplaceOutcome::Value outcome = files.Replace(from, to);
    return outcome == ReplaceOutcome::unsupported ? ReplaceKeepingCopy(files, from, to) : outcome;
}

// Writes the text into a new file, puts it on the medium and closes it.
bool FillAndClose(FilePort& files, std::FILE* file, const std::string& text) {
    bool written = std::fputs(text.c_str(), file) >= 0 || text.empty();
    written = files.FlushToMedium(file) && written;
    return std::fclose(file) == 0 && written;
}

}  // namespace

bool ReadTextFile(Agent& agent, const std::string& path, std::string& text) {
    std::FILE* file = agent.ports.files->Open(path, "r");
    if (file == NULL) {
        Log("Some error occured opening " + path);
        return false;
    }
    std::string content;
    bool whole = true;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (content.size() == kMaxTextFileBytes) {
            whole = false;
            break;
        }
        content.push_back(static_cast<char>(c));
    }
    std::fclose(file);
    if (!whole) {
        Log("Some error occured opening " + path);
        return false;
    }
    text = content;
    return true;
}

bool WriteTextFile(Agent& agent, const std::string& path, const std::string& text) {
    FilePort& files = *agent.ports.files;
    // The new content goes to a new file beside the old one and replaces it
    // in one step once it is on the medium, so a power loss or a full disk
    // never leaves a truncated settings file behind.
    const bool hadFile = files.Exists(path);
    std::string temporary;
    std::FILE* file = files.CreateTemporary(path, temporary);
    const bool written = file != NULL && FillAndClose(files, file, text);
    ReplaceOutcome::Value outcome = ReplaceOutcome::failed;
    if (written) outcome = ReplaceFile(files, temporary, path);
    if (outcome == ReplaceOutcome::notDurable) {
        Log("Wrote " + path + ", but the folder could not be flushed to the medium");
        return false;
    }
    if (outcome != ReplaceOutcome::replaced) {
        if (file != NULL) files.Remove(temporary);
        Log("Could not write " + path +
            (hadFile ? ", the previous file is kept" : ", and there is no previous file"));
        return false;
    }
    return true;
}

bool SaveSettings(Agent& agent) {
    const DeviceSettings& settings = agent.settings;
    JsonTree tree(cJSON_CreateObject());
    cJSON_AddItemToObject(tree.get(), "id", cJSON_CreateNumber(settings.id));
    cJSON_AddItemToObject(tree.get(), "password", cJSON_CreateString(settings.password.c_str()));
    cJSON_AddItemToObject(tree.get(), "connectionsEnabled",
                          cJSON_CreateBool(settings.connectionsEnabled));
    cJSON_AddItemToObject(tree.get(), "connectionsPassword",
                          cJSON_CreateString(settings.connectionsPassword.c_str()));
    cJSON_AddItemToObject(tree.get(), "vpnEnabled", cJSON_CreateBool(settings.vpnEnabled));
    WriteTextFile(agent, settingsFilePath, PrintJson(tree.get()));
    return true;
}

bool CanKeepSettings(Agent& agent) {
    FilePort& files = *agent.ports.files;
    // The same first steps as a save: a new file beside the settings file,
    // with about a settings file's bytes, flushed to the medium. A full or
    // read-only medium fails here, before the service hands out an identity.
    std::string temporary;
    std::FILE* file = files.CreateTemporary(settingsFilePath, temporary);
    bool kept = false;
    if (file != NULL) {
        kept = FillAndClose(files, file, std::string(256, ' '));
        files.Remove(temporary);
    }
    if (!kept) {
        Log(std::string("Could not write a file beside ") + settingsFilePath +
            ", so the device does not enrol until it can keep its identity");
    }
    return kept;
}

SettingsFile::Value LoadSettings(Agent& agent, std::string& path) {
    FilePort& files = *agent.ports.files;
    // Only the copy is left when a save was cut short between its steps.
    path = settingsFilePath;
    if (!files.Exists(path) && files.Exists(settingsCopyPath)) path = settingsCopyPath;
    std::string text;
    if (!ReadTextFile(agent, path, text)) {
        // A missing file is a first start; one that is there but cannot be
        // read holds the device's identity all the same.
        return files.Exists(path) ? SettingsFile::unusable : SettingsFile::missing;
    }
    DeviceSettings read = ReadSettings(text);
    MaskInConsole(read.password);
    MaskInConsole(read.connectionsPassword);
    LogSettings(read);
    agent.settings = read;
    return read.id == 0 || read.password.empty() ? SettingsFile::unusable : SettingsFile::usable;
}

void KeepUnusableSettingsFile(Agent& agent, const std::string& path) {
    ReplaceOutcome::Value outcome = ReplaceFile(*agent.ports.files, path, settingsBadPath);
    if (outcome == ReplaceOutcome::failed) {
        Log("Could not keep the unusable settings file as " + settingsBadPath);
    } else {
        Log("Kept the unusable settings file as " + settingsBadPath);
    }
}

}  // namespace lumivo

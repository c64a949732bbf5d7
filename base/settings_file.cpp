#include "base/settings_file.h"

#include <cstdio>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "platform/file_port.h"

namespace lumivo {

namespace {

DeviceSettings ReadSettings(const std::string& text) {
    DeviceSettings read;
    JsonTree tree(ParseJson(text));
    GetJsonInt(tree.get(), "id", read.id);
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

}  // namespace

bool ReadTextFile(Agent& agent, const std::string& path, std::string& text) {
    std::FILE* file = agent.ports.files->Open(path, "r");
    if (file == nullptr) {
        Log("Some error occured opening " + path);
        return false;
    }
    std::string content;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        content.push_back(static_cast<char>(c));
    }
    std::fclose(file);
    text = content;
    return true;
}

bool WriteTextFile(Agent& agent, const std::string& path, const std::string& text) {
    FilePort& files = *agent.ports.files;
    // The new content goes to a file beside the old one and replaces it in
    // one step once it is on the medium, so a power loss or a full disk never
    // leaves a truncated settings file behind.
    const std::string temporary = path + ".tmp";
    std::FILE* file = files.Open(temporary, "w");
    bool written = file != nullptr;
    if (written) {
        const char* bytes = text.c_str();
        written = std::fputs(bytes, file) >= 0 || bytes[0] == '\0';
        written = files.FlushToMedium(file) && written;
        written = std::fclose(file) == 0 && written;
    }
    if (written) written = files.Replace(temporary, path);
    if (!written) {
        if (file != nullptr) files.Remove(temporary);
        Log("Could not write " + path + ", the previous file is kept");
    }
    return written;
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

bool LoadSettings(Agent& agent) {
    std::string text;
    if (!ReadTextFile(agent, settingsFilePath, text)) return false;
    DeviceSettings read = ReadSettings(text);
    LogSettings(read);
    agent.settings = read;
    return true;
}

}  // namespace lumivo

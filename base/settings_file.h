#pragma once
// The settings file "\BOOT\env.json": reading it into the agent's settings
// and writing them back.

#include <string>

#include "base/agent.h"

namespace lumivo {

// Reads the whole file in text mode; false (with one line) when it cannot be
// opened or is longer than 64 KiB.
bool ReadTextFile(Agent& agent, const std::string& path, std::string& text);
// Replaces the file's content with `text` (up to its first NUL byte). The old
// content stays whole until the new one is on the medium; false, after one
// line that says so, when it could not be written or its folder not flushed.
bool WriteTextFile(Agent& agent, const std::string& path, const std::string& text);
// Writes the whole of agent.settings to the settings file. Always true: callers go on either way.
bool SaveSettings(Agent& agent);
// Whether a save could keep a new identity now: a new file can be made and
// flushed beside the settings file (and is removed again). False, after one
// line that says so, when it cannot.
bool CanKeepSettings(Agent& agent);
// What the settings file held.
struct SettingsFile {
    enum Value { usable, missing, unusable };
};
// Reads the settings file (or, when only that is left of a save cut short,
// its copy "\BOOT\env.json.old") into agent.settings and logs what it read;
// agent.settings stays untouched when it cannot be read. `path` is the file
// that was read.
SettingsFile::Value LoadSettings(Agent& agent, std::string& path);
// Moves a settings file that cannot be used out of the way of a new
// enrolment's save, to "\BOOT\env.json.bad", so the device's old identity is
// not lost with it; one line says whether that worked.
void KeepUnusableSettingsFile(Agent& agent, const std::string& path);

}  // namespace lumivo

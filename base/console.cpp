#include "base/console.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/text.h"

namespace lumivo {

namespace {

// The console's own state, as a stream's state would be: where the text goes
// and whether it is dropped. Plain C streams rather than iostreams, so the
// agent does not pay for the C++ locale machinery at start-up.
struct Console {
    Console() : out(stdout), silenced(false) {}
    std::FILE* out;
    bool silenced;
};

Console& TheConsole() {
    static Console console;
    return console;
}

// Whether the lines go to a log that others read (the journal, see
// SetConsoleForJournal), and the secrets they must not show. Off at start:
// a static object's flag starts out false.
struct Journal {
    bool on;
    std::vector<std::string> secrets;
};

Journal& TheJournal() {
    static Journal journal;
    return journal;
}

// What a masked secret shows instead, and the longest line for the journal.
const char kSecretMask[] = "********";
const std::size_t kMaxJournalLine = 4096;
// The secrets of the last few requests are enough: older ones are not
// printed again, and the list stays small.
const std::size_t kMaxSecrets = 32;

// Names of the members that carry a secret in the service's replies, and the
// member that carries a request's parameters as JSON text of their own.
const char* const kSecretMembers[] = {"password", "token", "connectionsPassword",
                                      "preSharedKey"};

void CollectSecrets(const cJSON* item, int depth) {
    for (const cJSON* child = item != NULL ? item->child : NULL; child != NULL;
         child = child->next) {
        if (cJSON_IsString(child) && child->string != NULL) {
            std::string name = child->string;
            for (std::size_t i = 0; i < sizeof kSecretMembers / sizeof kSecretMembers[0]; ++i) {
                if (name == kSecretMembers[i]) MaskInConsole(child->valuestring);
            }
            if (name == "data" && depth < 3) {
                JsonTree inner(ParseJson(child->valuestring));
                CollectSecrets(inner.get(), depth + 1);
            }
        } else if (cJSON_IsObject(child) || cJSON_IsArray(child)) {
            if (depth < 8) CollectSecrets(child, depth + 1);
        }
    }
}

bool LongerFirst(const std::string& a, const std::string& b) { return a.size() > b.size(); }

// One line as the journal gets it: the secrets masked (those in a reply
// first learnt from it), control characters shown as escapes, at most
// kMaxJournalLine bytes.
std::string ForJournal(const std::string& line) {
    const Journal& journal = TheJournal();
    std::size_t first = line.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && (line[first] == '{' || line[first] == '[')) {
        JsonTree tree(ParseJson(line));
        CollectSecrets(tree.get(), 0);
    }
    std::string masked = line;
    std::vector<std::string> secrets = journal.secrets;
    std::sort(secrets.begin(), secrets.end(), LongerFirst);
    for (std::size_t i = 0; i < secrets.size(); ++i) {
        for (std::size_t at = masked.find(secrets[i]); at != std::string::npos;
             at = masked.find(secrets[i], at + sizeof kSecretMask - 1)) {
            masked.replace(at, secrets[i].size(), kSecretMask);
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < masked.size() && shown.size() <= kMaxJournalLine; ++i) {
        unsigned char c = static_cast<unsigned char>(masked[i]);
        if (c >= 0x20 && c != 0x7f) {
            shown.push_back(static_cast<char>(c));
        } else {
            const char* const hex = "0123456789abcdef";
            shown += "\\x";
            shown.push_back(hex[c >> 4]);
            shown.push_back(hex[c & 0xf]);
        }
    }
    if (shown.size() > kMaxJournalLine) {
        // A console line is at most a reply, far below 2^31 bytes.
        const std::string marker =
            " [line cut, " + IntToText(static_cast<int>(line.size())) + " bytes]";
        shown.resize(kMaxJournalLine - marker.size());
        shown += marker;
    }
    return shown;
}

void Write(std::FILE* stream, const std::string& text) {
    if (TheConsole().silenced || stream == NULL) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    // Flushed at once: the output is read live through pipes and log files.
    std::fflush(stream);
}

// Text with its own line feeds, each line made fit for the journal.
std::string LinesForJournal(const std::string& text) {
    const std::vector<std::string> lines = SplitLines(text);
    std::string shown;
    for (std::size_t i = 0; i < lines.size(); ++i) shown += ForJournal(lines[i]) + "\n";
    return shown;
}

// One line: a line feed inside it is part of the line, escaped for the journal.
void WriteLine(std::FILE* stream, const std::string& line) {
    if (TheConsole().silenced || stream == NULL) return;
    Write(stream, (TheJournal().on ? ForJournal(line) : line) + "\n");
}

}  // namespace

void WriteConsoleText(const std::string& text) {
    if (TheConsole().silenced) return;
    Write(TheConsole().out, TheJournal().on ? LinesForJournal(text) : text);
}

void Log(const std::string& line) { WriteLine(TheConsole().out, line); }

void LogError(const std::string& line) { WriteLine(stderr, line); }

void SetConsoleForJournal(bool enabled) {
    TheJournal().on = enabled;
    if (!enabled) TheJournal().secrets.clear();
}

void MaskInConsole(const std::string& secret) {
    Journal& journal = TheJournal();
    if (!journal.on || secret.empty()) return;
    if (std::find(journal.secrets.begin(), journal.secrets.end(), secret) != journal.secrets.end())
        return;
    if (journal.secrets.size() == kMaxSecrets) journal.secrets.erase(journal.secrets.begin());
    journal.secrets.push_back(secret);
}

void SetDebugOutput(bool enabled) { TheConsole().silenced = !enabled; }

std::FILE* SetConsoleStream(std::FILE* stream) {
    std::FILE* previous = TheConsole().out;
    TheConsole().out = stream;
    return previous;
}

}  // namespace lumivo

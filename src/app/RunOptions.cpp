#include "app/RunOptions.h"

#include "app/SafeFormat.h"
#include "framework/AsciiText.h"

RunOptions g_RunOptions;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The next word of the command line into word (quotes removed, blanks
// inside quotes kept, as /LOG="C:\My Logs\patch.log" needs); the text
// behind it, or null when it does not fit.
const char* NextWord(const char* line, char* word) {
    uint32_t length = 0;
    bool quoted = false;
    for (; *line && (quoted || !IsBlank(*line)); ++line) {
        if (*line == '"') {
            quoted = !quoted;
            continue;
        }
        if (length + 1 >= kPathSize) return nullptr;
        word[length++] = *line;
    }
    word[length] = '\0';
    return line;
}

// One switch; false when it is none the program knows.
bool ReadSwitch(const char* word, RunOptions* options) {
    if (word[0] != '/') return false;
    const char* name = word + 1;
    if (CompareNoCase(name, "SILENT") == 0) {
        if (options->mode == RunMode::kInteractive) options->mode = RunMode::kSilent;
        return true;
    }
    if (CompareNoCase(name, "VERYSILENT") == 0) {
        options->mode = RunMode::kVerySilent;
        return true;
    }
    if (CompareNoCaseN(name, "LOG=", 4) == 0 && name[4] != '\0')
        return CopyText(options->logPath, kPathSize, name + 4);
    return false;
}

}  // namespace

bool ParseRunOptions(const char* commandLine, RunOptions* options) {
    const char* line = commandLine ? commandLine : "";
    // The program's path: up to its closing quote, or to the first blank.
    if (*line == '"') {
        ++line;
        while (*line && *line != '"') ++line;
        if (*line) ++line;
    } else {
        while (*line && !IsBlank(*line)) ++line;
    }
    bool understood = true;
    for (;;) {
        while (IsBlank(*line)) ++line;
        if (!*line) return understood;
        char word[kPathSize];
        const char* rest = NextWord(line, word);
        bool known = rest && ReadSwitch(word, options);
        if (!known && understood) {
            // The word as written, cut to the buffer, names the refusal.
            uint32_t length = 0;
            while (line[length] && !IsBlank(line[length]) && length + 1 < kPathSize) ++length;
            for (uint32_t i = 0; i < length; ++i) options->refused[i] = line[i];
            options->refused[length] = '\0';
            understood = false;
        }
        if (!rest) {
            while (*line && !IsBlank(*line)) ++line;
            continue;
        }
        line = rest;
    }
}

bool SilentRun() { return g_RunOptions.mode != RunMode::kInteractive; }

int StopExitCode(const char* key) {
    if (!SilentRun()) return -1;
    struct Stop {
        const char* key;
        int code;
    };
    static const Stop stops[] = {{"noquor", kExitNoGame},        {"noneed", kExitOutsidePatch},
                                 {"errvermin", kExitOutsidePatch}, {"wronglang", kExitOutsidePatch},
                                 {"quorrun", kExitGameRunning},   {"errnotcomplete", kExitNotCompleted}};
    for (const Stop& stop : stops)
        if (CompareNoCase(stop.key, key) == 0) return stop.code;
    return kExitNotCompleted;
}

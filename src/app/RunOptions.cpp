#include "app/RunOptions.h"

#include "app/SafeFormat.h"
#include "framework/AsciiText.h"

RunOptions g_RunOptions;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The next word of the command line into word (quotes removed, blanks
// inside quotes kept, as /LOG="C:\My Logs\patch.log" needs), cut to the
// buffer; *line moves past it. False when it was cut.
bool NextWord(const char** line, char* word) {
    uint32_t length = 0;
    bool quoted = false;
    bool whole = true;
    const char* at = *line;
    for (; *at && (quoted || !IsBlank(*at)); ++at) {
        if (*at == '"')
            quoted = !quoted;
        else if (length + 1 < kPathSize)
            word[length++] = *at;
        else
            whole = false;
    }
    word[length] = '\0';
    *line = at;
    return whole;
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
        const bool whole = NextWord(&line, word);
        if ((whole && ReadSwitch(word, options)) || !understood) continue;
        CopyText(options->refused, kPathSize, word);  // the first word not understood names the refusal
        understood = false;
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

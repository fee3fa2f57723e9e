// The command line's switches, for launchers and administrators who run a
// patch unattended. The first word is the program's own path (quoted or
// not) and is never read: the payload comes from the module's own file.
// Without switches a run is exactly the interactive one.
//   /SILENT        the progress dialog shows, no question is asked
//   /VERYSILENT    nothing shows at all
//   /LOG="<file>"  a log of the run's steps and file actions (RunLog.h)
// Names compare without regard to letter case; an unknown word is refused.
#pragma once

#include <cstdint>

#include "app/AppState.h"

enum class RunMode : uint8_t { kInteractive, kSilent, kVerySilent };

struct RunOptions {
    RunMode mode = RunMode::kInteractive;
    char logPath[kPathSize] = {0};  // empty: no log
    char refused[kPathSize] = {0};  // the first word not understood
};

extern RunOptions g_RunOptions;

// Reads the switches behind the program's path into options; false when a
// word is not understood (named in options->refused, every other switch
// still read).
bool ParseRunOptions(const char* commandLine, RunOptions* options);

// Either silent mode: nobody is there to answer a box.
bool SilentRun();

// Exit codes of a run given a silent switch; without one the codes stay
// those of the interactive run (0 after the update stage, -1 before).
constexpr int kExitUpdated = 0;
constexpr int kExitNoGame = 2;
constexpr int kExitOutsidePatch = 3;  // installed version or language the patch does not take
constexpr int kExitGameRunning = 4;
constexpr int kExitNotCompleted = 5;
constexpr int kExitPatchBroken = 6;
constexpr int kExitBadCommandLine = 7;

// The exit code of a run stopped by the message of key: the silent code,
// or -1 in an interactive run.
int StopExitCode(const char* key);

// Writes what one end-to-end run produced to a folder, so that two builds of
// the same sources (64-bit and 32-bit) can be compared file by file: the
// patch's payload, the exit code and output, the transcript, the game
// folder, the registry and the shortcuts.
#pragma once

#include <set>
#include <string>

namespace e2e {

struct RunOutcome {
    std::string root;        // the run's temporary folder; reads "{root}" in the record
    std::string payload;     // the patch's container, from its header to the end
    int exitCode = 0;
    std::string output;      // the program's standard output
    std::string transcript;  // host paths of the transcript,
    std::string game;        // the game folder,
    std::string registry;    // the registry file
    std::string programs;    // and the Start-menu Programs folder after the run
    // Game files (lower case, '/'-separated) a killed run may or may not have
    // written, as the threads' timing falls: left out of the record.
    std::set<std::string> timingDependent;
};

// The folder named by QP_E2E_RECORD, empty when it is not set.
std::string RecordFolder();

// Writes <RecordFolder()>/<name>/; does nothing when no folder is named.
// The times a shortcut copies from its target are zeroed, the one thing
// that differs from run to run.
void RecordRun(const std::string& name, const RunOutcome& run);

}  // namespace e2e

// One run of a Windows program under Wine with scripted answers to its
// message boxes. Each box is seen in the relay trace (caption, text, type),
// its window is found on the X display by its caption, and the answer is typed
// into it with xdotool (the button's mnemonic key, Return for OK, Escape for
// Cancel). The box's return value in the trace confirms the button pressed.
#pragma once

#include <string>
#include <vector>

#include "RelayTrace.h"
#include "WinePrefix.h"

namespace winebox {

struct RunOutcome {
    bool finished = false;       // the program ended by itself before the deadline
    int exitCode = -1;           // as Wine reports it (the low 8 bits: -1 gives 255)
    std::vector<BoxCall> boxes;  // every box, in order
    std::string error;           // what went wrong in the harness or the script
    std::string trace;           // the whole relay trace (stderr of the program)
};

struct RunRequest {
    std::string program;               // host path of the .exe
    std::vector<std::string> answers;  // W32_ANSWERS words, one per box
    std::string workDir;               // empty: the program's folder
    double timeoutSeconds = 60;        // the whole run
    double boxSeconds = 15;            // one box: from its call until it has returned
};

RunOutcome RunWithAnswers(const WinePrefix& prefix, const RunRequest& request);

// Quotes a text for the extended regular expressions of xdotool's --name.
std::string ExactNamePattern(const std::string& name);
// The key that presses a box's button: mnemonic letters, Return, Escape.
std::string KeyForButton(int button);

}  // namespace winebox

// One run of a Windows program under Wine with scripted answers to its
// message boxes. Each box is seen in the relay trace (caption, text, type),
// its window is found on the X display among the program's own windows by its
// caption, and once that window holds the input focus the answer is typed
// into it with xdotool (the button's mnemonic key, Return for OK, Escape for
// Cancel). The box's return value in the trace confirms the button pressed.
// Every run starts on a prefix whose processes have all ended.
#pragma once

#include <string>
#include <vector>

#include "RelayTrace.h"
#include "WinePrefix.h"

namespace winebox {

// A window captured from the X display: its PNG and where it stood, frame
// and caption included.
struct WindowShot {
    std::string path;  // empty: none taken
    int x = 0, y = 0, width = 0, height = 0;
};

struct RunOutcome {
    bool finished = false;       // the program ended by itself before the deadline
    int exitCode = -1;           // as Wine reports it (the low 8 bits: -1 gives 255)
    std::vector<BoxCall> boxes;  // every box, in order
    DialogTrace dialog;          // the dialog box, if one was shown
    std::vector<WindowShot> boxShots;  // with a shot prefix: one per box, in order
    WindowShot dialogShot;             // with a shot prefix: the dialog box while it was up
    std::string error;           // what went wrong in the harness or the script
    std::string trace;           // the whole relay trace (stderr of the program)
};

struct RunRequest {
    std::string program;               // host path of the .exe
    std::vector<std::string> arguments;  // behind the program on its command line
    std::vector<std::string> answers;  // W32_ANSWERS words, one per box
    std::string workDir;               // empty: the program's folder
    // Bounds against a hang only: each run starts Wine cold (wineboot, the
    // desktop), which a loaded machine can stretch past half a minute.
    double timeoutSeconds = 180;       // the whole run
    double boxSeconds = 90;            // one box: from its call until it has returned
    // Non-empty: each box is captured before it is answered, to
    // <shotPrefix>box<N>.png (N from 1), and a dialog box while it is up, to
    // <shotPrefix>dialog.png; a dialog that ends before it could be captured
    // is an error.
    std::string shotPrefix;
};

RunOutcome RunWithAnswers(const WinePrefix& prefix, const RunRequest& request);

// Captures an X window (ImageMagick's import) once it has had time to paint;
// false with a reason.
bool CaptureWindow(const WinePrefix& prefix, const std::string& window, const std::string& path, WindowShot* shot,
                   std::string* error);

// Quotes a text for the extended regular expressions of xdotool's --name.
std::string ExactNamePattern(const std::string& name);
// The key that presses a box's button: mnemonic letters, Return, Escape.
std::string KeyForButton(int button);

}  // namespace winebox

// Message boxes read back from Wine's relay trace. With the prefix's
// HKCU\Software\Wine\Debug "RelayInclude" set to "user32.MessageBoxA" and
// WINEDEBUG=+relay, every box shows up as two lines on stderr:
//   0024:Call user32.MessageBoxA(00000000,140004009 "text",140004000 "caption",00000044) ret=...
//   0024:Ret  user32.MessageBoxA() retval=00000006 ret=...
// The leading number is the calling thread; a call and its return pair by it.
// String arguments are escaped (\n \r \t \" \\ and \xNN) and cut after about
// 290 characters, which is marked by "..." behind the closing quote.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace winebox {

struct BoxCall {
    std::string thread;
    std::string caption;
    std::string text;
    uint32_t type = 0;
    bool captionNull = false;
    bool textNull = false;
    bool truncated = false;  // the trace cut the caption or the text
    bool returned = false;
    int result = 0;          // the button identifier, once returned
};

// Parses one trace line; true when it was a MessageBoxA call.
bool ParseBoxCallLine(const std::string& line, BoxCall* call);
// Parses one trace line; true when it was a MessageBoxA return.
bool ParseBoxReturnLine(const std::string& line, std::string* thread, int* result);
// Every box of a trace, in call order, with results paired by thread. Only
// complete lines count: a trace read while it is written may end in half a line.
std::vector<BoxCall> ParseRelayTrace(const std::string& trace);

// A dialog box as the relay trace shows it, with RelayInclude also naming
// user32.DialogBoxParamA, EndDialog, SetWindowTextA and SetDlgItemTextA:
//   0024:Call user32.SetDlgItemTextA(00010064,000003e8,140004000 "text") ret=...
// One dialog at a time: the texts are the last ones set.
struct DialogTrace {
    bool shown = false;                // DialogBoxParamA was called
    bool ended = false;                // EndDialog was called
    std::string caption;               // the last text of SetWindowTextA
    std::map<int, std::string> items;  // the last text of SetDlgItemTextA by control
};
DialogTrace ParseDialogTrace(const std::string& trace);

// The scripted answer words of the host layer (W32_ANSWERS) and the button
// identifiers they stand for (IDOK 1 ... IDNO 7); 0 for an unknown word.
int ButtonForAnswer(const std::string& answer);
std::string AnswerForButton(int button);

}  // namespace winebox

#include "RelayTrace.h"

#include <cstdlib>

namespace winebox {
namespace {

const char kCallMarker[] = ":Call user32.MessageBoxA(";
const char kReturnMarker[] = ":Ret  user32.MessageBoxA() retval=";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a hexadecimal number at pos; false if there is none.
bool ReadHex(const std::string& s, size_t& pos, uint64_t* value) {
    size_t start = pos;
    uint64_t v = 0;
    while (pos < s.size() && HexDigit(s[pos]) >= 0) v = v * 16 + uint64_t(HexDigit(s[pos++]));
    *value = v;
    return pos > start;
}

// Reads one escaped string starting at the opening quote at pos.
bool ReadQuoted(const std::string& s, size_t& pos, std::string* out, bool* truncated) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    out->clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') {
            if (s.compare(pos, 3, "...") == 0) {
                *truncated = true;
                pos += 3;
            }
            return true;
        }
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (pos >= s.size()) return false;
        char e = s[pos++];
        switch (e) {
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'x': {
            if (pos + 2 > s.size() || HexDigit(s[pos]) < 0 || HexDigit(s[pos + 1]) < 0) return false;
            out->push_back(char(HexDigit(s[pos]) * 16 + HexDigit(s[pos + 1])));
            pos += 2;
            break;
        }
        default: out->push_back(e); break;  // \" and \\ stand for themselves
        }
    }
    return false;
}

// One string argument: a pointer, then the text unless the pointer is null.
bool ReadStringArgument(const std::string& s, size_t& pos, std::string* out, bool* isNull,
                        bool* truncated) {
    uint64_t pointer = 0;
    if (!ReadHex(s, pos, &pointer)) return false;
    *isNull = false;
    if (pos < s.size() && s[pos] == ' ') {
        ++pos;
        return ReadQuoted(s, pos, out, truncated);
    }
    // Small values (null, or a resource number) are printed bare.
    *isNull = pointer == 0;
    out->clear();
    return true;
}

// The lines of a trace that are complete: the trace is read while Wine
// writes it, and a line cut short (a return value half written) would read
// as another one.
std::vector<std::string> CompleteLines(const std::string& trace) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = trace.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(trace.substr(start, end - start));
    return lines;
}

bool Expect(const std::string& s, size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

bool ParseBoxCallLine(const std::string& line, BoxCall* call) {
    size_t marker = line.find(kCallMarker);
    if (marker == std::string::npos) return false;
    BoxCall parsed;
    parsed.thread = line.substr(0, marker);
    size_t pos = marker + sizeof(kCallMarker) - 1;
    uint64_t owner = 0, type = 0;
    if (!ReadHex(line, pos, &owner) || !Expect(line, pos, ',')) return false;
    if (!ReadStringArgument(line, pos, &parsed.text, &parsed.textNull, &parsed.truncated) ||
        !Expect(line, pos, ','))
        return false;
    if (!ReadStringArgument(line, pos, &parsed.caption, &parsed.captionNull, &parsed.truncated) ||
        !Expect(line, pos, ','))
        return false;
    if (!ReadHex(line, pos, &type) || !Expect(line, pos, ')')) return false;
    parsed.type = uint32_t(type);
    *call = parsed;
    return true;
}

bool ParseBoxReturnLine(const std::string& line, std::string* thread, int* result) {
    size_t marker = line.find(kReturnMarker);
    if (marker == std::string::npos) return false;
    size_t pos = marker + sizeof(kReturnMarker) - 1;
    uint64_t value = 0;
    if (!ReadHex(line, pos, &value)) return false;
    *thread = line.substr(0, marker);
    *result = int(int32_t(uint32_t(value)));
    return true;
}

std::vector<BoxCall> ParseRelayTrace(const std::string& trace) {
    std::vector<BoxCall> calls;
    for (const std::string& line : CompleteLines(trace)) {
        BoxCall call;
        std::string thread;
        int result = 0;
        if (ParseBoxCallLine(line, &call)) {
            calls.push_back(call);
        } else if (ParseBoxReturnLine(line, &thread, &result)) {
            // The latest open call of that thread returns (boxes do not nest in a thread).
            for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
                if (it->thread == thread && !it->returned) {
                    it->returned = true;
                    it->result = result;
                    break;
                }
            }
        }
    }
    return calls;
}

DialogTrace ParseDialogTrace(const std::string& trace) {
    DialogTrace dialog;
    for (const std::string& line : CompleteLines(trace)) {
        size_t pos = line.find(":Call user32.");
        if (pos == std::string::npos) continue;
        pos += 13;
        const std::string call = line.substr(pos, line.find('(', pos) - pos);
        pos += call.size() + 1;
        uint64_t window = 0, control = 0;
        std::string text;
        bool isNull = false, truncated = false;
        if (call == "DialogBoxParamA") {
            dialog.shown = true;
        } else if (call == "EndDialog") {
            dialog.ended = true;
        } else if (call == "SetWindowTextA" && ReadHex(line, pos, &window) && Expect(line, pos, ',') &&
                   ReadStringArgument(line, pos, &text, &isNull, &truncated)) {
            dialog.caption = text;
        } else if (call == "SetDlgItemTextA" && ReadHex(line, pos, &window) && Expect(line, pos, ',') &&
                   ReadHex(line, pos, &control) && Expect(line, pos, ',') &&
                   ReadStringArgument(line, pos, &text, &isNull, &truncated)) {
            dialog.items[int(control)] = text;
        }
    }
    return dialog;
}

namespace {
const char* const kAnswerWords[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
}

int ButtonForAnswer(const std::string& answer) {
    for (int id = 1; id < 8; ++id)
        if (answer == kAnswerWords[id]) return id;
    return 0;
}

std::string AnswerForButton(int button) {
    return button >= 1 && button < 8 ? kAnswerWords[button] : std::to_string(button);
}

}  // namespace winebox

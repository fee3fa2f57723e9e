// MessageBoxA: every box is recorded in the transcript with its answer. The
// answer comes from W32_ANSWERS (comma-separated button names, one per box),
// else from the user when stdin is a terminal, else it is the box's default
// button. A script that runs out, or names a button the box does not offer,
// ends the process (exit 70): a test must never pass on a silent default.
#include "HostTranscript.h"
#include "HostWindows.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Button {
    const char* name;
    int id;
};

const Button kOk{"ok", IDOK}, kCancel{"cancel", IDCANCEL}, kAbort{"abort", IDABORT}, kRetry{"retry", IDRETRY},
    kIgnore{"ignore", IDIGNORE}, kYes{"yes", IDYES}, kNo{"no", IDNO}, kTryAgain{"tryagain", IDTRYAGAIN},
    kContinue{"continue", IDCONTINUE};

// The buttons of a box type, in screen order; empty for an invalid type.
std::vector<Button> ButtonsOf(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK: return {kOk};
    case MB_OKCANCEL: return {kOk, kCancel};
    case MB_ABORTRETRYIGNORE: return {kAbort, kRetry, kIgnore};
    case MB_YESNOCANCEL: return {kYes, kNo, kCancel};
    case MB_YESNO: return {kYes, kNo};
    case MB_RETRYCANCEL: return {kRetry, kCancel};
    case MB_CANCELTRYCONTINUE: return {kCancel, kTryAgain, kContinue};
    default: return {};
    }
}

// A default-button index past the last button selects the first, as Windows does.
const Button& DefaultButton(const std::vector<Button>& buttons, UINT type)
{
    const size_t index = (type & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons[0];
}

const Button* FindButton(const std::vector<Button>& buttons, const std::string& word)
{
    for (const Button& button : buttons)
        if (word == button.name)
            return &button;
    return nullptr;
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    std::string word = text.substr(begin, end - begin);
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

class AnswerScript {
public:
    AnswerScript()
    {
        const char* script = std::getenv("W32_ANSWERS");
        present_ = script != nullptr;
        if (!present_ || *script == '\0')
            return;
        std::string all(script);
        size_t start = 0;
        for (;;) {
            const size_t comma = all.find(',', start);
            words_.push_back(Trimmed(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    bool Present() const { return present_; }
    bool Next(std::string* word, size_t* number)
    {
        if (next_ >= words_.size())
            return false;
        *number = next_ + 1;
        *word = words_[next_++];
        return true;
    }

private:
    bool present_ = false;
    std::vector<std::string> words_;
    size_t next_ = 0;
};

std::string ButtonList(const std::vector<Button>& buttons)
{
    std::string list;
    for (const Button& button : buttons)
        list += (list.empty() ? "" : "/") + std::string(button.name);
    return list;
}

std::string Describe(LPCSTR caption, LPCSTR text)
{
    return std::string("message box \"") + (caption ? caption : "") + "\": \"" + (text ? text : "") + "\"";
}

const Button& AskOnTerminal(const std::vector<Button>& buttons, const Button& fallback, LPCSTR caption,
                            LPCSTR text)
{
    std::fprintf(stderr, "\n=== %s ===\n%s\n", caption ? caption : "", text ? text : "");
    for (;;) {
        std::fprintf(stderr, "[%s] (Enter: %s) > ", ButtonList(buttons).c_str(), fallback.name);
        std::fflush(stderr);
        char line[128];
        if (std::fgets(line, sizeof line, stdin) == nullptr)
            return fallback;
        const std::string word = Trimmed(line);
        if (word.empty())
            return fallback;
        if (const Button* button = FindButton(buttons, word))
            return *button;
    }
}

std::mutex g_BoxMutex;

} // namespace

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::lock_guard<std::mutex> lock(g_BoxMutex);
    static AnswerScript script;
    const std::vector<Button> buttons = ButtonsOf(type);
    if (buttons.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (owner != nullptr && !w32host::IsKnownWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    w32host::TranscriptLine record("MessageBoxA");
    record.Text("caption", caption).Text("text", text).Number("type", static_cast<long long>(type));

    const Button& fallback = DefaultButton(buttons, type);
    const Button* answer = &fallback;
    if (script.Present()) {
        std::string word;
        size_t number = 0;
        if (!script.Next(&word, &number)) {
            record.Text("answer", nullptr).Write();
            w32host::HostFatal("W32_ANSWERS ran out at " + Describe(caption, text));
        }
        answer = FindButton(buttons, word);
        if (answer == nullptr) {
            record.Text("answer", nullptr).Write();
            w32host::HostFatal("W32_ANSWERS answer " + std::to_string(number) + " \"" + word +
                               "\" is not a button of " + Describe(caption, text) + " (buttons " +
                               ButtonList(buttons) + ")");
        }
    } else if (isatty(STDIN_FILENO)) {
        answer = &AskOnTerminal(buttons, fallback, caption, text);
    }
    record.Text("answer", answer->name).Write();
    return answer->id;
}

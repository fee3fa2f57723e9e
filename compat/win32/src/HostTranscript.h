// The transcript of user-interface calls: one JSON object per line in the file
// named by W32_TRANSCRIPT, fields in the order they were added, texts
// converted from the ANSI code page to UTF-8. Without the variable nothing is
// written. A transcript that cannot be written ends the process (exit 70),
// since a test or demo reading it would otherwise be misled.
#pragma once

#include <string>

namespace w32host {

// Ends the process with exit code 70 after printing "w32: <message>" on
// stderr: the host layer's way of failing visibly where Win32 would not fail.
[[noreturn]] void HostFatal(const std::string& message);

class TranscriptLine {
public:
    explicit TranscriptLine(const char* call);
    TranscriptLine& Text(const char* name, const char* ansiText); // null is written as null
    TranscriptLine& Number(const char* name, long long value);
    // The line without its line feed, as Write appends it.
    std::string Json() const { return json_ + "}"; }
    void Write() const;

private:
    std::string json_;
};

} // namespace w32host

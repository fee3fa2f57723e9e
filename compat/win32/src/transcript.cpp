// Writes transcript lines: each line is assembled first and appended with a
// single write, so lines from two threads never interleave.
#include "HostCodePage.h"
#include "HostTranscript.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace w32host {

void HostFatal(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "w32: %s\n", message.c_str());
    std::fflush(stderr);
    _exit(70);
}

namespace {

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendJsonString(std::string& out, const char* ansi)
{
    out += '"';
    for (const char* p = ansi; *p != '\0'; ++p) {
        const char32_t cp = AnsiToUnicode(static_cast<unsigned char>(*p));
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
                out += escape;
            } else {
                AppendUtf8(out, cp);
            }
        }
    }
    out += '"';
}

void AppendName(std::string& json, const char* name)
{
    json += json.size() > 1 ? ",\"" : "\"";
    json += name;
    json += "\":";
}

} // namespace

TranscriptLine::TranscriptLine(const char* call) : json_("{")
{
    Text("call", call);
}

TranscriptLine& TranscriptLine::Text(const char* name, const char* ansiText)
{
    AppendName(json_, name);
    if (ansiText == nullptr)
        json_ += "null";
    else
        AppendJsonString(json_, ansiText);
    return *this;
}

TranscriptLine& TranscriptLine::Number(const char* name, long long value)
{
    AppendName(json_, name);
    json_ += std::to_string(value);
    return *this;
}

void TranscriptLine::Write() const
{
    const char* path = std::getenv("W32_TRANSCRIPT");
    if (path == nullptr || *path == '\0')
        return;
    const std::string line = Json() + "\n";
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        HostFatal(std::string("cannot open the transcript ") + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            close(fd);
            HostFatal(std::string("cannot write the transcript ") + path + ": " + std::strerror(error));
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
}

} // namespace w32host

// Reads the host layer's transcript (W32_TRANSCRIPT): one JSON object per
// line, for example
//   {"call":"MessageBoxA","caption":"QUOR Patch","text":"...","type":68,"answer":"yes"}
//   {"call":"DialogBoxParamA","id":101}
//   {"call":"SetWindowTextA","id":101,"text":"QUOR Patch"}
//   {"call":"SetDlgItemTextA","id":1000,"text":"Updating QUOR. Please, wait..."}
//   {"call":"EndDialog","id":101,"result":1}
// Texts come back as the program passed them, in the ANSI code page
// (Windows-1252); a JSON null becomes an empty text, a missing number -1.
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

struct TranscriptRecord {
    std::string call;
    std::string caption;
    std::string text;
    long long type = -1;
    std::string answer; // "" when the box got no answer (the script ran out)
    long long id = -1;
    long long result = -1;
};

namespace transcript_detail {

inline char32_t ReadHex4(const std::string& s, size_t& i)
{
    if (i + 4 > s.size())
        throw std::runtime_error("transcript: short \\u escape");
    const char32_t value = static_cast<char32_t>(std::stoul(s.substr(i, 4), nullptr, 16));
    i += 4;
    return value;
}

inline char32_t ReadUtf8(const std::string& s, size_t& i)
{
    const unsigned char lead = static_cast<unsigned char>(s[i++]);
    if (lead < 0x80)
        return lead;
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t cp = lead & (0x3F >> extra);
    while (extra-- > 0 && i < s.size())
        cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

// The Windows-1252 byte of a code point ('?' for one the code page lacks).
inline char ToAnsi(char32_t cp)
{
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (high[i] == cp)
            return static_cast<char>(0x80 + i);
    return '?';
}

inline std::string ReadString(const std::string& s, size_t& i)
{
    std::string out;
    ++i; // opening quote
    while (i < s.size() && s[i] != '"') {
        char32_t cp;
        if (s[i] == '\\') {
            const char e = s[i + 1];
            i += 2;
            switch (e) {
            case 'n': cp = '\n'; break;
            case 'r': cp = '\r'; break;
            case 't': cp = '\t'; break;
            case 'b': cp = '\b'; break;
            case 'f': cp = '\f'; break;
            case 'u': cp = ReadHex4(s, i); break;
            default: cp = static_cast<unsigned char>(e);
            }
        } else {
            cp = ReadUtf8(s, i);
        }
        out += ToAnsi(cp);
    }
    if (i >= s.size())
        throw std::runtime_error("transcript: unterminated string in " + s);
    ++i;
    return out;
}

inline TranscriptRecord ParseLine(const std::string& line)
{
    TranscriptRecord record;
    size_t i = line.find('{');
    if (i == std::string::npos)
        throw std::runtime_error("transcript: not an object: " + line);
    ++i;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == ','))
            ++i;
        if (i >= line.size() || line[i] == '}')
            break;
        const std::string name = ReadString(line, i);
        if (i >= line.size() || line[i] != ':')
            throw std::runtime_error("transcript: expected ':' in " + line);
        ++i;
        std::string text;
        long long number = -1;
        if (line[i] == '"') {
            text = ReadString(line, i);
        } else if (line.compare(i, 4, "null") == 0) {
            i += 4;
        } else {
            size_t used = 0;
            number = std::stoll(line.substr(i), &used);
            i += used;
        }
        if (name == "call") record.call = text;
        else if (name == "caption") record.caption = text;
        else if (name == "text") record.text = text;
        else if (name == "answer") record.answer = text;
        else if (name == "type") record.type = number;
        else if (name == "id") record.id = number;
        else if (name == "result") record.result = number;
    }
    return record;
}

} // namespace transcript_detail

// Every record of the transcript file, in order; none when the file is missing.
inline std::vector<TranscriptRecord> ReadTranscript(const std::string& path)
{
    std::vector<TranscriptRecord> records;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            records.push_back(transcript_detail::ParseLine(line));
    return records;
}

// Only the records of one call, in order.
inline std::vector<TranscriptRecord> RecordsOf(const std::vector<TranscriptRecord>& all, const std::string& call)
{
    std::vector<TranscriptRecord> some;
    for (const TranscriptRecord& record : all)
        if (record.call == call)
            some.push_back(record);
    return some;
}

// The strings file checks. Values are taken as the patcher takes them: its
// own loader, '|' turned into a line feed, its own hexadecimal conversion and
// its own formatter.
#include "StringsCheck.h"

#include "PackNames.h"
#include "StringsFile.h"

#include "app/HexNumber.h"
#include "app/SafeFormat.h"
#include "file/PlainFileName.h"
#include "framework/AsciiText.h"

#include <algorithm>
#include <cstring>
#include <map>

const char kShortcutTarget[] = "zln\\zavovudiz.exe";

namespace {

constexpr char kSection[] = "str";
constexpr size_t kBoxBuffer = 255; // characters the patcher's 256-byte text buffers hold


// Texts shown in a box or dialog, which an empty value leaves blank.
const char* const kShownKeys[] = {"title", "welcome",        "quorrun", "noquor", "noneed", "errvermin",
                                  "wronglang", "copy", "errcopy", "errnotcomplete", "done"};
const char* const kOtherKeys[] = {"welcome2", "ver",      "vermin",     "lang",     "zln_name",
                                 "zln_shortcut", "errinuse", "errnomatch", "errspace", "removekept"};

bool IsKnownKey(const std::string& key)
{
    for (const char* known : kShownKeys)
        if (CompareNoCase(key.c_str(), known) == 0)
            return true;
    for (const char* known : kOtherKeys)
        if (CompareNoCase(key.c_str(), known) == 0)
            return true;
    return false;
}

// A text as LookupText delivers it.
std::string AsShown(std::string text)
{
    for (char& c : text)
        if (c == '|')
            c = '\n';
    return text;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Length of the well-formed UTF-8 sequence that starts at text[at] with a
// byte of 0x80 or more, or 0 when none does (a lone Windows-1252 letter).
size_t Utf8SequenceAt(const std::string& text, size_t at)
{
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    // No overlong form, no surrogate, nothing above U+10FFFF.
    const unsigned char second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

// Whether text reads as UTF-8 with at least one letter beyond ASCII: every
// byte of 0x80 or more belongs to a well-formed sequence.
bool LooksLikeUtf8(const std::string& text)
{
    bool multiByte = false;
    for (size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const size_t length = Utf8SequenceAt(text, at);
        if (length == 0)
            return false;
        multiByte = true;
        at += length;
    }
    return multiByte;
}

class Checker {
public:
    Checker(const std::vector<uint8_t>& bytes, const StringsCheckContext& context) : file_(bytes), context_(context) {}

    std::vector<Finding> Run()
    {
        header_ = file_.SectionHeader(kSection);
        CheckCarriesFiles();
        CheckLines();
        if (header_ < 0) {
            NoSection();
            return findings_;
        }
        CheckSectionLines();
        CheckShownTexts();
        CheckVersions();
        CheckFormats();
        CheckLanguage();
        CheckShortcut();
        return findings_;
    }

private:
    void Add(bool error, uint32_t line, const std::string& key, const std::string& text)
    {
        findings_.push_back({error, line, key, text});
    }
    uint32_t HeaderLine() const { return file_.Lines()[static_cast<size_t>(header_)].number; }
    // The line that gives key, or the section's header when none does.
    uint32_t LineFor(const char* key) const
    {
        const int index = file_.LineOf(kSection, key);
        return index < 0 ? HeaderLine() : file_.Lines()[static_cast<size_t>(index)].number;
    }
    std::optional<std::string> Value(const char* key) const { return file_.Value(kSection, key); }

    // A patch without files, whole or as deltas, changes nothing, yet
    // records its version and reports success.
    void CheckCarriesFiles()
    {
        for (const std::string& name : context_.packNames)
            if (!BelowFilesFolder(name).empty() || name.compare(0, kDeltasPackPrefix.size(), kDeltasPackPrefix) == 0)
                return;
        Add(true, 0, "",
            "the patch carries no files below Files or Deltas: applied, it changes nothing, yet records its version "
            "and reports success");
    }

    // The patcher shows every byte as a letter of the players' code page
    // (Windows-1252): a file saved as UTF-8 shows two letters for an e acute.
    void CheckEncoding()
    {
        const std::vector<StringsLine>& lines = file_.Lines();
        const bool byteOrderMark = !lines.empty() && lines[0].key.compare(0, 3, "\xEF\xBB\xBF") == 0;
        if (header_ >= 0 && byteOrderMark)  // (without the section, NoSection says it)
            Add(true, lines[0].number, "",
                "the file begins with a UTF-8 byte order mark: it is saved as UTF-8, which the patcher shows as "
                "Windows-1252; save it as Windows-1252 without one");
        for (const StringsLine& line : lines)
            if (LooksLikeUtf8(line.value) || (!line.header && !(byteOrderMark && &line == &lines[0]) &&
                                              LooksLikeUtf8(line.key)))
                Add(true, line.number, line.header ? "" : line.key,
                    "holds UTF-8 (letters beyond ASCII as two to four bytes each): the patcher shows each byte as a "
                    "letter of Windows-1252, so players see garbled text; save the file as Windows-1252");
    }

    void CheckLines()
    {
        CheckEncoding();
        bool headerSeen = false;
        for (const StringsLine& line : file_.Lines()) {
            if (line.overlong)
                Add(true, line.number, line.header ? "" : line.key,
                    "the line is longer than 1023 characters: the patcher keeps its first 1023, drops the "
                    "next one and reads the rest as a line of its own");
            headerSeen = headerSeen || line.header;
            // (Without the section, the one error says it all.)
            if (header_ >= 0 && !headerSeen && !line.key.empty() && !line.continuation &&
                line.key != "\xEF\xBB\xBF")  // a lone byte order mark, reported above
                Add(false, line.number, line.key, "comes before the first section header; the patcher ignores it");
        }
    }

    void NoSection()
    {
        const std::vector<StringsLine>& lines = file_.Lines();
        if (!lines.empty() && lines[0].key.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            Add(true, lines[0].number, "",
                "the file begins with a UTF-8 byte order mark, which the patcher takes for part of the first "
                "line, so it finds no section [str]; save the file without one");
            return;
        }
        for (const StringsLine& line : lines)
            if (line.header && !file_.HasSections()) {
                Add(true, line.number, "",
                    "the file's only section header is its last line, with no line break behind it: the "
                    "patcher does not take it");
                return;
            }
        Add(true, 0, "",
            "there is no section [str]: the patcher finds none of its texts and shows empty boxes, and reads "
            "the versions as 0");
    }

    void CheckSectionLines()
    {
        const std::vector<StringsLine>& lines = file_.Lines();
        const int section = lines[static_cast<size_t>(header_)].section;
        for (const StringsLine& line : lines)
            if (line.header && line.section != section &&
                CompareNoCase(line.key.substr(1, line.key.size() - 2).c_str(), kSection) == 0)
                Add(false, line.number, "",
                    "a later [str] (line " + std::to_string(HeaderLine()) +
                        ") replaces this section: the patcher finds none of the keys below this line");
        std::map<std::string, const StringsLine*> seen;
        for (size_t i = static_cast<size_t>(header_) + 1; i < lines.size() && lines[i].section == section; ++i) {
            const StringsLine& line = lines[i];
            if (line.key.empty() || line.continuation)
                continue;
            if (!IsKnownKey(line.key)) {
                Add(false, line.number, line.key, "is not a key the patcher reads");
                continue;
            }
            std::string folded = line.key;
            for (char& c : folded)
                c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
            const auto [earlier, first] = seen.emplace(folded, &line);
            if (!first) {
                Add(false, earlier->second->number, earlier->second->key,
                    "is given again at line " + std::to_string(line.number) + "; the patcher uses that one");
                earlier->second = &line;
            }
            if (line.commented)
                Add(false, line.number, line.key,
                    "the text ends at the ';': the patcher takes the rest, " + Quoted(";" + line.comment) +
                        ", as a comment and does not show it");
        }
    }

    void CheckShownTexts()
    {
        for (const char* key : kShownKeys) {
            const std::optional<std::string> value = Value(key);
            const std::string shown = std::strcmp(key, "title") == 0 ? "every box's caption" : "its box";
            if (!value)
                Add(true, HeaderLine(), key, "is missing: the patcher would show " + shown + " empty");
            else if (value->empty())
                Add(true, LineFor(key), key, "is empty: the patcher would show " + shown + " empty");
        }
        const std::optional<std::string> title = Value("title");
        if (title && title->size() > kBoxBuffer)
            Add(false, LineFor("title"), "title",
                "is " + std::to_string(title->size()) + " characters long; the patcher cuts captions at 255");
        const std::optional<std::string> welcome2 = Value("welcome2");
        if (!welcome2 || welcome2->empty())
            Add(false, welcome2 ? LineFor("welcome2") : HeaderLine(), "welcome2",
                std::string(welcome2 ? "is empty" : "is missing") +
                    ": the patcher always asks the plain \"welcome\" question, without the installed version");
    }

    // The version a key gives as the patcher reads it; none when it is
    // missing or not read as written (reported here).
    std::optional<uint32_t> Version(const char* key)
    {
        const std::optional<std::string> value = Value(key);
        if (!value) {
            Add(true, HeaderLine(), key,
                std::strcmp(key, "ver") == 0
                    ? "is missing: the patcher reads it as version 0 and refuses every installed game with "
                      "\"noneed\""
                    : "is missing: the patcher reads it as 0 and accepts every installed version (write "
                      "vermin = 0 if that is meant)");
            return std::nullopt;
        }
        const uint32_t read = static_cast<uint32_t>(ParseHexNumber(AsShown(*value).c_str()));
        const uint32_t line = LineFor(key);
        const std::string written = "= " + Quoted(*value) + ":";
        if (value->empty()) {
            Add(true, line, key, "is empty: the patcher reads it as 0");
            return std::nullopt;
        }
        size_t at = (*value)[0] == '+' ? 1 : 0;
        if ((*value)[0] == '-') {
            Add(true, line, key,
                written + " the patcher reads " + Hex(read) + "; a negative number" +
                    (std::strcmp(key, "ver") == 0
                         ? " becomes the installed version, and every later patch stops with \"noneed\""
                         : " leaves no installed version that passes"));
            return std::nullopt;
        }
        if (value->compare(at, 2, "0x") == 0 || value->compare(at, 2, "0X") == 0)
            at += 2;
        const size_t digits = at;
        while (at < value->size() && IsHexDigit((*value)[at]))
            ++at;
        if (at == digits || at < value->size()) {
            Add(true, line, key,
                written + " the patcher reads " + Hex(read) + ", stopping at " +
                    Quoted(value->substr(at, 1)) + "; write the version as hexadecimal digits (10005 for 1.05)");
            return std::nullopt;
        }
        const std::string digitText = value->substr(digits);
        const size_t significant = digitText.find_first_not_of('0');
        if (significant != std::string::npos &&
            (digitText.size() - significant > 8 || std::stoul(digitText.substr(significant), nullptr, 16) > 0x7FFFFFFFul)) {
            Add(true, line, key, written + " the patcher reads " + Hex(read) + ", the largest number it takes");
            return std::nullopt;
        }
        return read;
    }

    void CheckVersions()
    {
        const std::optional<uint32_t> target = Version("ver");
        const std::optional<uint32_t> minimum = Version("vermin");
        if (target && *target == 0) {
            Add(true, LineFor("ver"), "ver",
                "is version 0: the patcher refuses every installed game above 0 with \"noneed\"");
            return;
        }
        if (target && *target < 0x10000)
            Add(false, LineFor("ver"), "ver",
                "is version 0." + std::to_string(*target) + " (" + Hex(*target) +
                    "); the major number is in the high 16 bits (10005 for 1.05)");
        if (!target || !minimum)
            return;
        if (*target < *minimum)
            Add(true, LineFor("ver"), "ver",
                Hex(*target) + " is below \"vermin\" " + Hex(*minimum) + " (line " +
                    std::to_string(LineFor("vermin")) + "): no installed version can pass the check");
        else if (*target == *minimum)
            Add(false, LineFor("ver"), "ver",
                "equals \"vermin\": only a game that already has version " + Hex(*target) + " passes the check");
    }

    // Formats key with args as the patcher would; a text that does not fit
    // them is shown as written.
    void CheckFormat(const char* key, const FormatArg* args, uint32_t count, const std::string& arguments,
                     const std::string& example, size_t limit = kBoxBuffer)
    {
        const std::optional<std::string> value = Value(key);
        if (!value || value->empty())
            return;
        std::vector<char> text(4096);
        if (!FormatText(text.data(), static_cast<uint32_t>(text.size()), AsShown(*value).c_str(), args, count)) {
            Add(true, LineFor(key), key,
                "has conversions that do not fit the patcher's arguments (" + arguments +
                    "): the patcher shows the text as written, conversions and all");
            return;
        }
        const size_t length = std::strlen(text.data());
        if (length > limit)
            Add(false, LineFor(key), key,
                "comes to " + std::to_string(length) + " characters with " + example + "; the patcher cuts it at " +
                    std::to_string(limit));
    }

    void CheckFormats()
    {
        const char folder[] = "C:\\Program Files (x86)\\Orvandel\\Quor\\";
        const FormatArg welcome[] = {FormatArg::Integer(1), FormatArg::Integer(5), FormatArg::String(folder)};
        CheckFormat("welcome2", welcome, 3, "two numbers and a text, as in %d.%02d %s",
                    std::string("the folder ") + folder);
        // The copy error names the file below the game folder; the longest
        // carried name is the longest message.
        std::string longest = "MAPS\\KINGSFALL.MAP";
        for (const std::string& name : context_.packNames)
            if (BelowFilesFolder(name).size() > longest.size())
                longest = BelowFilesFolder(name);
        const FormatArg copy[] = {FormatArg::String(longest.c_str())};
        CheckFormat("errcopy", copy, 1, "one text, as in %s", "the file " + longest);
        // The optional texts of the check before the first change and of a
        // removal left in place (the patcher has its own when they are
        // missing), formatted into the text buffer.
        for (const char* key : {"errinuse", "errnomatch", "removekept"})
            CheckFormat(key, copy, 1, "one text, as in %s", "the file " + longest, 4094);
        const FormatArg megabytes[] = {FormatArg::Integer(100)};
        CheckFormat("errspace", megabytes, 1, "one number, as in %d", "100 MB", 4094);
    }

    void CheckLanguage()
    {
        const std::optional<std::string> value = Value("lang");
        if (!value || value->empty())
            return;
        const std::string lang = AsShown(*value);
        const uint32_t line = LineFor("lang");
        if (lang.size() > kBoxBuffer)
            Add(true, line, "lang",
                "is " + std::to_string(lang.size()) +
                    " characters long: the patcher compares only its first 255 with the game's language");
        if (lang.find('\n') != std::string::npos)
            Add(true, line, "lang", "holds a '|', which the patcher turns into a line feed: no game's language matches");
        for (unsigned char c : lang)
            if (c >= 0x80) {
                Add(false, line, "lang",
                    "holds letters beyond ASCII: the patcher ignores letter case only for A to Z, so the game "
                    "must write them exactly so");
                break;
            }
        if (CompareNoCase(lang.c_str(), "english") != 0)
            Add(false, line, "lang",
                "is not \"english\": the patcher's language check also requires the game's own word for its "
                "peasants to be \"peasant\", so a game in another language is refused whatever \"lang\" says");
    }

    void CheckShortcut()
    {
        const std::optional<std::string> shortcut = Value("zln_shortcut");
        if (!shortcut) {
            Add(false, HeaderLine(), "zln_shortcut",
                "is missing: the patcher makes no shortcut (write zln_shortcut = 0 to say so)");
            return;
        }
        if (*shortcut != "1") {
            if (!shortcut->empty() && *shortcut != "0")
                Add(false, LineFor("zln_shortcut"), "zln_shortcut",
                    "is " + Quoted(*shortcut) + ": only exactly \"1\" switches the shortcut on, so the patcher makes none");
            return;
        }
        const std::optional<std::string> name = Value("zln_name");
        if (!name || name->empty()) {
            Add(true, name ? LineFor("zln_name") : HeaderLine(), "zln_name",
                std::string(name ? "is empty" : "is missing") +
                    " while \"zln_shortcut\" is 1: the shortcut would be named \".lnk\"");
        } else {
            // The patcher's own test of the name.
            if (!IsPlainFileName(AsShown(*name).c_str()))
                Add(true, LineFor("zln_name"), "zln_name",
                    "is no plain file name (it is a path, a device name such as CON, ends in a dot or a blank, "
                    "or holds a control character or one of \\ / : * ? \" < > |): the patcher makes no shortcut");
        }
        std::string target = kFilesPackPrefix + kShortcutTarget;
        bool carried = false;
        for (const std::string& packName : context_.packNames)
            carried = carried || CompareNoCase(packName.c_str(), target.c_str()) == 0;
        if (carried || context_.baseHasShortcutTarget.value_or(false))
            return;
        const std::string what = "is 1, but the patch does not carry Files\\" + std::string(kShortcutTarget);
        if (context_.baseHasShortcutTarget)
            Add(true, LineFor("zln_shortcut"), "zln_shortcut",
                what + " and the base installation has none: the shortcut would point at nothing");
        else
            Add(false, LineFor("zln_shortcut"), "zln_shortcut",
                what + ": the shortcut points at nothing unless every installation already has it");
    }

    StringsFile file_;
    const StringsCheckContext& context_;
    std::vector<Finding> findings_;
    int header_ = -1;
};

} // namespace

std::vector<Finding> CheckStrings(const std::vector<uint8_t>& bytes, const StringsCheckContext& context)
{
    std::vector<Finding> findings = Checker(bytes, context).Run();
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return findings;
}

size_t ReportFindings(const std::vector<Finding>& findings, const std::string& label, std::FILE* out)
{
    size_t errors = 0;
    for (const Finding& finding : findings) {
        errors += finding.error ? 1 : 0;
        const std::string where = finding.line ? label + ":" + std::to_string(finding.line) : label;
        const std::string key = finding.key.empty() ? "" : "\"" + finding.key + "\" ";
        std::fprintf(out, "%s: %s: %s%s\n", where.c_str(), finding.error ? "error" : "warning", key.c_str(),
                     finding.text.c_str());
    }
    return errors;
}

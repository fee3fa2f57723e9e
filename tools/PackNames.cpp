// Pack names: upper-casing and the rules a carried name must meet.
#include "PackNames.h"

#include "file/PlainFileName.h"
#include "payload/DeltaKey.h"

#include <cstring>

namespace {

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

const std::string kStringsPackName = Upper(kPackStringsName);
const std::string kFilesPackPrefix = Upper(kPackFilesFolder) + "\\";
const std::string kDeltasPackPrefix = std::string(kDeltasFolder) + "\\";

std::string BelowFilesFolder(const std::string& packName)
{
    return packName.compare(0, kFilesPackPrefix.size(), kFilesPackPrefix) == 0 ? packName.substr(kFilesPackPrefix.size())
                                                                               : "";
}

std::string ComponentProblem(const std::string& component)
{
    // The patcher's own rule decides; this only names the reason.
    if (component.find('\0') != std::string::npos)
        return "a character outside printable ASCII";
    switch (PatchFileNameFault(component.c_str())) {
    case NameFault::kNone: return "";
    case NameFault::kEmpty: return "an empty name";
    case NameFault::kTooLong: return "longer than 255 characters";
    case NameFault::kFolderReference: return "a reference to a folder, not a name";
    case NameFault::kControlCharacter:
    case NameFault::kNotAscii: return "a character outside printable ASCII";
    case NameFault::kReservedCharacter:
        for (char c : component)
            if (std::strchr(kReservedNameCharacters, c) != nullptr)
                return std::string("the character '") + c + "', which Windows refuses in names";
        break;
    case NameFault::kTrailingDotOrBlank: return "a name ending in a dot or a blank, which Windows drops";
    case NameFault::kDeviceName:
        return "a device name of Windows (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension)";
    case NameFault::kPartialSuffix:
        return std::string("a name ending in ") + kPartialFileSuffix + ", the patcher's own temporary suffix";
    }
    return "a name the patcher does not write";
}

std::string WrittenPath(const std::string& packName)
{
    if (packName.compare(0, kDeltasPackPrefix.size(), kDeltasPackPrefix) != 0)
        return BelowFilesFolder(packName);
    const size_t key = packName.rfind('\\');
    return key < kDeltasPackPrefix.size() ? "" : packName.substr(kDeltasPackPrefix.size(), key - kDeltasPackPrefix.size());
}

std::string WrittenPathProblem(const std::string& path)
{
    for (size_t start = 0; !path.empty();) {
        const size_t end = path.find('\\', start);
        const std::string name = path.substr(start, end - start);
        const std::string problem = ComponentProblem(name);
        if (!problem.empty())
            return "\"" + name + "\" is " + problem;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return "";
}

std::string FilesPackName(const std::vector<std::string>& components)
{
    std::string name = kFilesPackPrefix;
    for (const std::string& component : components)
        name += Upper(component) + "\\";
    name.pop_back();
    return name;
}

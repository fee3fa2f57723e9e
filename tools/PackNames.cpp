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
    // Host names beyond ASCII would reach the players in another code page.
    for (unsigned char c : component)
        if (c >= 0x7F)
            return "a character outside printable ASCII";
    if (IsPlainFileName(component.c_str()))
        return "";
    // The patcher's rule refused it: say which part.
    if (component.empty())
        return "an empty name";
    if (component == "." || component == "..")
        return "a reference to a folder, not a name";
    for (unsigned char c : component) {
        if (c < 0x20)
            return "a character outside printable ASCII";
        if (std::strchr("\\/:*?\"<>|", c) != nullptr)
            return std::string("the character '") + static_cast<char>(c) + "', which Windows refuses in names";
    }
    if (component.back() == '.' || component.back() == ' ')
        return "a name ending in a dot or a blank, which Windows drops";
    if (component.size() > 255)
        return "longer than 255 characters";
    return "a device name of Windows (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension)";
}

std::string FilesPackName(const std::vector<std::string>& components)
{
    std::string name = kFilesPackPrefix;
    for (const std::string& component : components)
        name += Upper(component) + "\\";
    name.pop_back();
    return name;
}

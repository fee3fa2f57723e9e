// Pack names: upper-casing and the rules a carried name must meet.
#include "PackNames.h"

#include <cstring>

namespace {

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension.
bool IsDeviceName(const std::string& component)
{
    const std::string stem = Upper(component.substr(0, component.find('.')));
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

std::string ComponentProblem(const std::string& component)
{
    if (component.empty())
        return "an empty name";
    for (unsigned char c : component) {
        if (c < 0x20 || c >= 0x7F)
            return "a character outside printable ASCII";
        if (std::strchr("\\/:*?\"<>|", c) != nullptr)
            return std::string("the character '") + static_cast<char>(c) + "', which Windows refuses in names";
    }
    if (component.back() == '.' || component.back() == ' ')
        return "a name ending in a dot or a blank, which Windows drops";
    if (IsDeviceName(component))
        return "a device name of Windows";
    return "";
}

std::string FilesPackName(const std::vector<std::string>& components)
{
    std::string name = "FILES";
    for (const std::string& component : components)
        name += "\\" + Upper(component);
    return name;
}

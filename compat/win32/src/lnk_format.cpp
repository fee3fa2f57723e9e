// Builds .lnk files (format in HostLnk.h).
#include "HostCodePage.h"
#include "HostLnk.h"

namespace w32host {

namespace {

const uint32_t kHasLinkInfo = 0x02, kHasName = 0x04, kHasRelativePath = 0x08, kHasWorkingDir = 0x10,
               kHasArguments = 0x20, kHasIconLocation = 0x40, kIsUnicode = 0x80;
const uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const uint32_t kDriveFixed = 3;

void Put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void Put64(std::vector<uint8_t>& out, uint64_t value)
{
    Put32(out, static_cast<uint32_t>(value));
    Put32(out, static_cast<uint32_t>(value >> 32));
}

void PutAnsiZ(std::vector<uint8_t>& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

bool PutStringData(std::vector<uint8_t>& out, const std::string& text)
{
    if (text.size() > 0xFFFF)
        return false;
    Put16(out, static_cast<uint32_t>(text.size()));
    for (char c : text)
        Put16(out, static_cast<uint32_t>(AnsiToUnicode(static_cast<unsigned char>(c))));
    return true;
}

bool HasDrive(const std::string& path)
{
    return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

void PutLinkInfo(std::vector<uint8_t>& out, const std::string& target)
{
    const uint32_t headerSize = 0x1C;
    const uint32_t volumeIdSize = 0x10 + 1; // fixed part and the empty label
    const uint32_t basePathOffset = headerSize + volumeIdSize;
    const uint32_t suffixOffset = basePathOffset + static_cast<uint32_t>(target.size()) + 1;
    const uint32_t size = suffixOffset + 1;
    Put32(out, size);
    Put32(out, headerSize);
    Put32(out, 1); // VolumeIDAndLocalBasePath
    Put32(out, headerSize);
    Put32(out, basePathOffset);
    Put32(out, 0); // no network part
    Put32(out, suffixOffset);
    Put32(out, volumeIdSize);
    Put32(out, kDriveFixed);
    Put32(out, 0); // serial number
    Put32(out, 0x10);
    out.push_back(0); // empty label
    PutAnsiZ(out, target);
    out.push_back(0); // empty common path suffix
}

std::vector<std::string> Components(const std::string& path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

bool SameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

std::string RelativeLinkPath(const std::string& fromFile, const std::string& target)
{
    if (!HasDrive(fromFile) || !HasDrive(target) || !SameNoCase(fromFile.substr(0, 1), target.substr(0, 1)))
        return "";
    std::vector<std::string> from = Components(fromFile.substr(2));
    const std::vector<std::string> to = Components(target.substr(2));
    if (from.empty() || to.empty())
        return "";
    from.pop_back(); // the folder holding the link
    size_t common = 0;
    while (common < from.size() && common + 1 < to.size() && SameNoCase(from[common], to[common]))
        ++common;
    std::string relative;
    for (size_t i = common; i < from.size(); ++i)
        relative += "..\\";
    if (relative.empty())
        relative = ".\\";
    for (size_t i = common; i < to.size(); ++i)
        relative += to[i] + (i + 1 < to.size() ? "\\" : "");
    return relative;
}

bool BuildLnk(const LnkContents& c, std::vector<uint8_t>* bytes)
{
    std::vector<uint8_t>& out = *bytes;
    out.clear();
    const bool linkInfo = HasDrive(c.target);
    uint32_t flags = kIsUnicode;
    if (linkInfo)
        flags |= kHasLinkInfo;
    if (!c.description.empty())
        flags |= kHasName;
    if (!c.relativePath.empty())
        flags |= kHasRelativePath;
    if (!c.workingDirectory.empty())
        flags |= kHasWorkingDir;
    if (!c.arguments.empty())
        flags |= kHasArguments;
    if (!c.iconLocation.empty())
        flags |= kHasIconLocation;

    Put32(out, 0x4C);
    out.insert(out.end(), kLinkClsid, kLinkClsid + 16);
    Put32(out, flags);
    Put32(out, c.targetInfo.known ? c.targetInfo.attributes : 0);
    Put64(out, c.targetInfo.creationTime);
    Put64(out, c.targetInfo.accessTime);
    Put64(out, c.targetInfo.writeTime);
    Put32(out, c.targetInfo.size);
    Put32(out, static_cast<uint32_t>(c.iconIndex));
    Put32(out, c.showCommand);
    Put16(out, c.hotKey);
    out.insert(out.end(), 10, 0); // reserved

    if (linkInfo)
        PutLinkInfo(out, c.target);
    for (const std::string* text : {&c.description, &c.relativePath, &c.workingDirectory, &c.arguments,
                                    &c.iconLocation}) {
        if (!text->empty() && !PutStringData(out, *text))
            return false;
    }
    Put32(out, 0); // terminal extra-data block
    return true;
}

} // namespace w32host

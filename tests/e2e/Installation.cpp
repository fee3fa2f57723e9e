#include "Installation.h"

#include <sys/xattr.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "SampleInstall.h"
#include "TestFiles.h"

namespace e2e {

namespace fs = std::filesystem;

std::string RegistryText(const Scenario& s) {
    std::vector<sample::GameKey> keys;
    if (s.registryKey == KeyPlace::k32BitView || s.registryKey == KeyPlace::kBothViews)
        keys.push_back({sample::RegistryView::k32Bit, s.registryPath, s.gameVersion, s.language});
    if (s.registryKey == KeyPlace::k64BitView)
        keys.push_back({sample::RegistryView::k64Bit, s.registryPath, s.gameVersion, s.language});
    if (s.registryKey == KeyPlace::kBothViews)
        keys.push_back({sample::RegistryView::k64Bit, s.registryPath64, s.gameVersion64, s.language});
    std::string text = sample::RegistryText(keys);
    if (s.registryLines.empty()) return text;
    const std::string header = "[" + sample::GameKeyName(sample::RegistryView::k32Bit) + "]\r\n";
    const size_t at = text.find(header);
    if (at == std::string::npos) throw std::invalid_argument(s.name + ": value lines but no key in the 32-bit view");
    std::string lines;
    for (const std::string& line : s.registryLines) lines += line + "\r\n";
    return text.insert(at + header.size(), lines);
}

std::string WriteGameFolder(const Scenario& s, const std::string& game) {
    if (s.gameExecutable) WriteFile(game + "/Quor.exe", "QUOR game program\n");
    for (const std::string& folder : s.gameFolders) fs::create_directories(game + "/" + Slashed(folder));
    for (const FileSpec& file : s.gameFiles) {
        const std::string path = game + "/" + Slashed(file.path);
        WriteFile(path, file.content);
        if (file.dosAttributes) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%x", unsigned(file.dosAttributes));
            if (setxattr(path.c_str(), "user.DOSATTRIB", text, std::char_traits<char>::length(text), 0) != 0)
                return "the host keeps no extended attributes here (" + path + ")";
        }
        if (file.readOnly) fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    return "";
}

}  // namespace e2e

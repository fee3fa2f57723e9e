#include "RunRecord.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "TestFiles.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

// A shell link's header holds its target's creation, access and write times
// (three 8-byte values from offset 0x1C).
constexpr size_t kLinkTimes = 0x1C;
constexpr size_t kLinkTimesEnd = kLinkTimes + 3 * 8;

std::string WithoutRoot(std::string text, const std::string& root) {
    for (size_t at = text.find(root); !root.empty() && at != std::string::npos; at = text.find(root, at))
        text.replace(at, root.size(), "{root}");
    return text;
}

// Files, or folders, below folder, sorted.
std::vector<fs::path> Below(const std::string& folder, bool folders) {
    std::vector<fs::path> found;
    if (!fs::exists(folder)) return found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (folders ? entry.is_directory() : entry.is_regular_file())
            found.push_back(fs::relative(entry.path(), folder));
    std::sort(found.begin(), found.end());
    return found;
}

// Copies every file below from but the skipped ones, and lists the folders
// that hold one of those and the files, each file with its size, whether it is writable and its
// hidden and system attributes.
void RecordFolderTree(const std::string& from, const std::string& to, const std::set<std::string>& skipped) {
    std::ostringstream listing;
    // Only folders that hold a recorded file are listed: a killed run may have
    // made the next batch's folders (and their temporary files) or not, as
    // its threads went.
    std::set<std::string> holding;
    for (const fs::path& file : Below(from, false))
        if (!skipped.count(Lower(Slashed(file.string()))))
            for (fs::path up = file.parent_path(); !up.empty(); up = up.parent_path()) holding.insert(up.string());
    for (const fs::path& folder : Below(from, true))
        if (holding.count(folder.string())) listing << folder.string() << "/\n";
    for (const fs::path& file : Below(from, false)) {
        if (skipped.count(Lower(Slashed(file.string())))) continue;
        const std::string path = (fs::path(from) / file).string();
        std::string bytes = ReadFile(path);
        WriteFile((fs::path(to) / file).string(), bytes);
        struct stat info {};
        stat(path.c_str(), &info);
        char attributes[32];
        ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", attributes, sizeof attributes);
        listing << file.string() << ' ' << bytes.size() << ((info.st_mode & S_IWUSR) ? " writable" : " read-only")
                << (length > 0 ? " " + std::string(attributes, size_t(length)) : std::string()) << '\n';
    }
    WriteFile(to + ".txt", listing.str());
}

}  // namespace

std::string RecordFolder() {
    const char* folder = std::getenv("QP_E2E_RECORD");
    return folder != nullptr ? folder : "";
}

void RecordRun(const std::string& name, const RunOutcome& run) {
    if (RecordFolder().empty()) return;
    const std::string to = RecordFolder() + "/" + name;
    fs::remove_all(to);
    WriteFile(to + "/payload.bin", run.payload);
    WriteFile(to + "/exit.txt", std::to_string(run.exitCode) + "\n");
    WriteFile(to + "/output.txt", WithoutRoot(run.output, run.root));
    WriteFile(to + "/transcript.jsonl", WithoutRoot(ReadFile(run.transcript), run.root));
    WriteFile(to + "/registry.reg", WithoutRoot(ReadFile(run.registry), run.root));
    RecordFolderTree(run.game, to + "/game", run.timingDependent);
    std::ostringstream links;
    for (const fs::path& file : Below(run.programs, false)) {
        if (file.extension() != ".lnk") continue;
        std::string bytes = ReadFile((fs::path(run.programs) / file).string());
        if (bytes.size() >= kLinkTimesEnd) std::fill(bytes.begin() + kLinkTimes, bytes.begin() + kLinkTimesEnd, '\0');
        WriteFile((fs::path(to) / "shortcuts" / file).string(), bytes);
        links << file.string() << '\n';
    }
    WriteFile(to + "/shortcuts.txt", links.str());
}

}  // namespace e2e

// Case-blind lookups of names in host folders. Windows finds "README.TXT" in
// a folder that holds "readme.txt"; the host does not, so a name missing as
// given is looked for among the folder's entries. Reading the whole folder
// for every such name costs more than the rest of the call in folders of
// thousands of files, so each folder's entries are kept and kept current by
// the host's change notices (inotify): a create, delete or rename in the
// folder, by this process or any other, is queued before the call that made
// it returns, and the queue is read before every answer. Where notices
// cannot be had (no inotify, its limits reached) the folder is read each time.
#include "host_paths.h"

#include <dirent.h>
#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>

namespace w32 {
namespace {

std::string FoldedName(const char* name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
    return folded;
}

bool IsDotEntry(const char* name) { return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])); }

struct Listing {
    dev_t device = 0;
    ino_t inode = 0;
    std::unordered_multimap<std::string, std::string> names;  // folded name to entry name

    void Add(const char* name) {
        std::string folded = FoldedName(name);
        auto range = names.equal_range(folded);
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == name) return;
        names.emplace(std::move(folded), name);
    }
    void Remove(const char* name) {
        auto range = names.equal_range(FoldedName(name));
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == name) {
                names.erase(it);
                return;
            }
    }
    // The first entry in byte order whose name folds to name's.
    std::string Variant(const std::string& name) const {
        std::string found;
        auto range = names.equal_range(FoldedName(name.c_str()));
        for (auto it = range.first; it != range.second; ++it)
            if (found.empty() || it->second < found) found = it->second;
        return found;
    }
};

// Reads folder whole into listing; false when it cannot be opened or is no
// longer the folder info describes.
bool ReadFolder(const std::string& folder, const struct stat& info, Listing* listing) {
    DIR* entries = opendir(folder.c_str());
    if (!entries) return false;
    struct stat opened;
    bool same = fstat(dirfd(entries), &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino;
    if (same) {
        listing->device = info.st_dev;
        listing->inode = info.st_ino;
        while (dirent* entry = readdir(entries))
            if (!IsDotEntry(entry->d_name)) listing->Add(entry->d_name);
    }
    closedir(entries);
    return same;
}

constexpr size_t kMaxListings = 64;
constexpr uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class FolderListings {
public:
    // The kept listing of folder (as info describes it) brought up to date,
    // or null when the folder cannot be watched.
    const Listing* Find(const std::string& folder, const struct stat& info) {
        if (!Start()) return nullptr;
        ApplyNotices();
        auto watch = watches_.find(folder);
        if (watch != watches_.end()) {
            auto kept = listings_.find(watch->second);
            if (kept != listings_.end() && kept->second.device == info.st_dev && kept->second.inode == info.st_ino)
                return &kept->second;
        }
        if (listings_.size() >= kMaxListings) ForgetAll();
        // Watched before it is read: a change made during the read is applied
        // after it.
        int wd = inotify_add_watch(notices_, folder.c_str(), kWatchMask);
        if (wd < 0) return nullptr;
        auto kept = listings_.find(wd);
        if (kept == listings_.end()) {
            Listing fresh;
            if (!ReadFolder(folder, info, &fresh)) {
                inotify_rm_watch(notices_, wd);
                return nullptr;
            }
            kept = listings_.emplace(wd, std::move(fresh)).first;
        }
        if (watches_.size() >= 4 * kMaxListings) watches_.clear();
        watches_[folder] = wd;
        ApplyNotices();
        kept = listings_.find(wd);
        if (kept == listings_.end() || kept->second.device != info.st_dev || kept->second.inode != info.st_ino)
            return nullptr;
        return &kept->second;
    }

    std::mutex lock;

private:
    bool Start() {
        if (notices_ == kNotStarted) notices_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        return notices_ >= 0;
    }

    void ApplyNotices() {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            ssize_t length = read(notices_, buffer, sizeof buffer);
            if (length <= 0) return;
            // A read returns every queued notice that fits: with room left
            // for one more, none was left queued.
            const bool drained = size_t(length) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof buffer;
            for (ssize_t at = 0; at < length;) {
                const auto* notice = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + notice->len);
                if (notice->mask & IN_Q_OVERFLOW) {
                    ForgetAll();
                    continue;
                }
                auto kept = listings_.find(notice->wd);
                if (kept == listings_.end()) continue;
                if (notice->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                    Forget(kept->first);
                } else if (notice->len && (notice->mask & (IN_CREATE | IN_MOVED_TO))) {
                    kept->second.Add(notice->name);
                } else if (notice->len && (notice->mask & (IN_DELETE | IN_MOVED_FROM))) {
                    kept->second.Remove(notice->name);
                }
            }
            if (drained) return;
        }
    }

    void Forget(int wd) {
        listings_.erase(wd);
        inotify_rm_watch(notices_, wd);  // fails harmlessly for a watch the host ended
    }

    void ForgetAll() {
        while (!listings_.empty()) Forget(listings_.begin()->first);
        watches_.clear();
    }

    static constexpr int kNotStarted = -2;
    int notices_ = kNotStarted;
    std::unordered_map<int, Listing> listings_;       // by watch
    std::unordered_map<std::string, int> watches_;    // folder path to its watch
};

FolderListings& Listings() {
    // Never destroyed: threads still running at exit may look names up.
    static FolderListings* listings = new FolderListings;
    return *listings;
}

}  // namespace

std::string FindCaseVariant(const std::string& folder, const std::string& name, const struct stat& info) {
    {
        FolderListings& listings = Listings();
        std::lock_guard<std::mutex> guard(listings.lock);
        if (const Listing* kept = listings.Find(folder, info)) return kept->Variant(name);
    }
    Listing once;
    return ReadFolder(folder, info, &once) ? once.Variant(name) : std::string();
}

}  // namespace w32

// W32_FAULT_POWER="<n>[:drop]": the power goes at the n-th durability event
// of the process (FlushFileBuffers of a file or a volume, MoveFileExA or
// MoveFileA, CloseHandle of a handle that wrote), as that event begins. The
// files are then made what a real NTFS volume could show after the cut, in
// the worst way the model below allows, and the process ends as if killed
// (SIGKILL).
//
// The model of NTFS (each drive W32_DRIVE_X is one volume):
// - File data goes to disk lazily. Bytes written to a file are on disk only
//   once FlushFileBuffers of a handle on that file, or of its volume, has
//   returned (a write through a handle opened with FILE_FLAG_WRITE_THROUGH
//   counts as the write and then a flush of its file). At the cut every
//   byte written since is lost: it reads as zeros (the file's size is
//   metadata and survives; NTFS shows zeros past the data it knows valid,
//   other systems garbage, which zeros stand for).
// - Metadata (creating, moving, deleting, attributes, folders) is journaled:
//   the changes reach the disk whole and in the order they were made, so
//   after the cut some prefix of them is kept. A change is sure to be kept
//   once FlushFileBuffers of any file on its volume, or of the volume, has
//   returned after it, or a move with MOVEFILE_WRITE_THROUGH on that volume
//   returned (the journal is written in order up to that point). An
//   open that empties a file (CREATE_ALWAYS over it) counts as kept at once.
// - A volume flush makes everything on that volume durable, and nothing on
//   another volume: a folder reached through a link to another drive is
//   flushed only by that drive's volume or by its files' own flushes.
//
// The worst allowed: by default every metadata change made is kept and every
// byte not flushed lost, the torn case included (a file moved over its
// target before its bytes were flushed leaves the target its size in zeros).
// With ":drop", every change not sure to be kept is undone instead (moves
// back, replaced and deleted files restored, made files and folders gone),
// and the unflushed bytes of what remains are lost as well.
//
// Over POSIX the layer tracks, per file the process wrote, the ranges not yet
// flushed (through a duplicate of the handle's descriptor, whatever the file
// is called later) and, per metadata change not yet durable, what undoes it;
// the cut rewrites the host files accordingly. The registry is not modelled.
#include "power_cut.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "env_faults.h"
#include "host_paths.h"

namespace w32 {
namespace {

struct WrittenFile {
    int fd;  // a duplicate: the file may be renamed or its handle closed
    dev_t device;
    ino_t inode;
    char volume;
    std::vector<std::pair<int64_t, uint64_t>> unflushed;  // offset, length
};

enum class Change { kCreated, kMoved, kDeleted, kAttributes, kFolderMade, kFolderRemoved };

struct MetadataChange {
    Change kind;
    char volume;
    std::string path;  // the moved file's old name for a move
    std::string to;    // a move's new name
    PowerKept kept;    // what path (a move: to) held before
};

struct Model {
    bool on = false;
    bool drop = false;
    uint64_t cutAt = 0;
    uint64_t events = 0;
    std::vector<WrittenFile> files;
    std::vector<MetadataChange> changes;  // not yet durable, oldest first
};

std::recursive_mutex& ModelLock() {
    static std::recursive_mutex lock;
    return lock;
}

// Read from the environment at first use, and again after a reload.
Model g_Model;
std::atomic<int> g_ModelState{0};  // 0: not read yet, 1: off, 2: on

Model& LoadedModel() {
    if (g_ModelState.load(std::memory_order_acquire) != 0) return g_Model;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    if (g_ModelState.load(std::memory_order_relaxed) != 0) return g_Model;
    Model loaded;
    const char* value = std::getenv("W32_FAULT_POWER");
    if (value && *value) {
        char* end = nullptr;
        unsigned long long n = std::strtoull(value, &end, 10);
        if (end == value || n == 0 || (*end && std::strcmp(end, ":drop") != 0)) {
            std::fprintf(stderr, "win32 host layer: malformed W32_FAULT_POWER=\"%s\"\n", value);
            std::exit(70);
        }
        loaded.on = true;
        loaded.cutAt = n;
        loaded.drop = *end != '\0';
    }
    g_Model = std::move(loaded);
    g_ModelState.store(g_Model.on ? 2 : 1, std::memory_order_release);
    return g_Model;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) return resolved;
    // A name not made yet: its folder's real path and the name.
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return path;
    return RealPath(path.substr(0, slash)) + path.substr(slash);
}

// Every change so far on volume is on disk.
void ChangesDurable(Model& model, char volume) {
    std::vector<MetadataChange> left;
    for (MetadataChange& change : model.changes)
        if (change.volume != volume) left.push_back(std::move(change));
    model.changes = std::move(left);
}

void Forget(Model& model, size_t at) {
    close(model.files[at].fd);
    model.files.erase(model.files.begin() + long(at));
}

void Note(Change kind, const std::string& path, const std::string& to, PowerKept kept) {
    Model& model = LoadedModel();
    if (!model.on) return;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    model.changes.push_back({kind, DriveOfHostPath(to.empty() ? path : to), path, to, std::move(kept)});
}

void Restore(const std::string& path, const PowerKept& kept) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (!kept.bytes.empty() && write(fd, kept.bytes.data(), kept.bytes.size()) < 0) {
        // What could not be put back reads as lost.
    }
    close(fd);
    chmod(path.c_str(), kept.mode & 07777);
    StoreDosAttributes(path, kept.dosAttributes);
}

void Undo(const MetadataChange& change) {
    switch (change.kind) {
        case Change::kCreated: unlink(change.path.c_str()); break;
        case Change::kMoved:
            std::rename(change.to.c_str(), change.path.c_str());
            if (change.kept.existed) Restore(change.to, change.kept);
            break;
        case Change::kDeleted: Restore(change.path, change.kept); break;
        case Change::kAttributes:
            chmod(change.path.c_str(), change.kept.mode & 07777);
            StoreDosAttributes(change.path, change.kept.dosAttributes);
            break;
        case Change::kFolderMade: rmdir(change.path.c_str()); break;
        case Change::kFolderRemoved: mkdir(change.path.c_str(), 0777); break;
    }
}

[[noreturn]] void Cut(Model& model) {
    if (model.drop)
        for (auto change = model.changes.rbegin(); change != model.changes.rend(); ++change) Undo(*change);
    static const char zeros[65536] = {};
    for (const WrittenFile& file : model.files) {
        struct stat info;
        if (fstat(file.fd, &info) != 0) continue;
        for (auto [offset, length] : file.unflushed) {
            int64_t end = std::min<int64_t>(offset + int64_t(length), info.st_size);
            for (int64_t at = offset; at < end;) {
                size_t piece = size_t(std::min<int64_t>(end - at, int64_t(sizeof zeros)));
                ssize_t put = pwrite(file.fd, zeros, piece, off_t(at));
                if (put <= 0) break;
                at += put;
            }
        }
    }
    KillProcessNow();
}

}  // namespace

bool PowerModelOn() { return LoadedModel().on; }

void ReloadPowerModel() {
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    for (const WrittenFile& file : g_Model.files) close(file.fd);
    g_Model = Model{};
    g_ModelState.store(0, std::memory_order_release);
}

PowerCall::PowerCall() {
    if (PowerModelOn()) lock_ = std::unique_lock<std::recursive_mutex>(ModelLock());
}

void PowerEvent() {
    Model& model = LoadedModel();
    if (!model.on) return;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    if (++model.events == model.cutAt) Cut(model);
}

void PowerNoteWrite(int fd, dev_t device, ino_t inode, const std::string& hostPath, int64_t offset, uint64_t length) {
    Model& model = LoadedModel();
    if (!model.on || length == 0) return;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    WrittenFile* file = nullptr;
    for (WrittenFile& known : model.files)
        if (known.device == device && known.inode == inode) file = &known;
    if (!file) {
        int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return;
        model.files.push_back({copy, device, inode, DriveOfHostPath(hostPath), {}});
        file = &model.files.back();
    }
    // Files are written front to back: a write that continues the last
    // range extends it.
    if (!file->unflushed.empty() && file->unflushed.back().first + int64_t(file->unflushed.back().second) == offset)
        file->unflushed.back().second += length;
    else
        file->unflushed.emplace_back(offset, length);
}

void PowerNoteFileFlushed(dev_t device, ino_t inode, const std::string& hostPath) {
    Model& model = LoadedModel();
    if (!model.on) return;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    for (size_t i = 0; i < model.files.size(); ++i)
        if (model.files[i].device == device && model.files[i].inode == inode) {
            Forget(model, i);
            break;
        }
    ChangesDurable(model, DriveOfHostPath(hostPath));
}

void PowerNoteVolumeFlushed(char letter) {
    Model& model = LoadedModel();
    if (!model.on) return;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    for (size_t i = model.files.size(); i-- > 0;)
        if (model.files[i].volume == letter) Forget(model, i);
    ChangesDurable(model, letter);
}

PowerKept PowerKeep(const std::string& hostPath) {
    PowerKept kept;
    const Model& model = LoadedModel();
    struct stat info;
    if (!model.on || stat(hostPath.c_str(), &info) != 0) return kept;
    kept.existed = true;
    kept.mode = info.st_mode;
    kept.dosAttributes = StoredDosAttributes(hostPath);
    if (!model.drop || !S_ISREG(info.st_mode)) return kept;  // only an undo needs the bytes
    int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kept;
    char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) kept.bytes.append(buffer, size_t(got));
    close(fd);
    return kept;
}

void PowerNoteCreated(const std::string& hostPath) { Note(Change::kCreated, hostPath, "", {}); }

void PowerNoteMoved(const std::string& from, const std::string& to, PowerKept replaced, bool writeThrough) {
    Note(Change::kMoved, from, to, std::move(replaced));
    if (!writeThrough || !PowerModelOn()) return;
    std::lock_guard<std::recursive_mutex> guard(ModelLock());
    ChangesDurable(LoadedModel(), DriveOfHostPath(to));
}

void PowerNoteDeleted(const std::string& hostPath, PowerKept deleted) {
    Note(Change::kDeleted, hostPath, "", std::move(deleted));
}

void PowerNoteAttributes(const std::string& hostPath, PowerKept before) {
    Note(Change::kAttributes, hostPath, "", std::move(before));
}

void PowerNoteFolder(const std::string& hostPath, bool made) {
    Note(made ? Change::kFolderMade : Change::kFolderRemoved, hostPath, "", {});
}

char DriveOfHostPath(const std::string& hostPath) {
    const std::string real = RealPath(hostPath);
    char drive = 0;
    size_t longest = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char variable[] = "W32_DRIVE_?";
        variable[10] = letter;
        const char* root = std::getenv(variable);
        if (!root || !*root) continue;
        std::string rootReal = RealPath(root);
        while (rootReal.size() > 1 && rootReal.back() == '/') rootReal.pop_back();
        bool inside = real == rootReal || (real.compare(0, rootReal.size(), rootReal) == 0 &&
                                           (rootReal == "/" || real[rootReal.size()] == '/'));
        if (inside && rootReal.size() >= longest) {
            drive = letter;
            longest = rootReal.size();
        }
    }
    return drive;
}

}  // namespace w32

// A model check of the directory service over a block file. Random
// operations on files and folders go through CHPFS and are checked against
// an in-memory model of the tree after every step; from time to time the
// pack is flushed, read back by the independent raw reader with full block
// accounting, and reopened from its bytes. Shared by the randomized test
// (choices from a seeded generator) and the write-path fuzz target (choices
// from the fuzz input).
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BlockFileRaw.h"
#include "MemoryFile.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"

namespace hpfs_model {

// Where the run's choices come from.
class Choices {
public:
    virtual ~Choices() = default;
    virtual bool Exhausted() const = 0;
    virtual uint32_t Below(uint32_t bound) = 0;  // 0 .. bound - 1, bound > 0
    bool OneIn(uint32_t n) { return Below(n) == 0; }
};

class RandomChoices : public Choices {
public:
    explicit RandomChoices(uint64_t seed) : random(seed) {}
    bool Exhausted() const override { return false; }
    uint32_t Below(uint32_t bound) override { return uint32_t(random() % bound); }

private:
    std::mt19937_64 random;
};

// One byte per choice below 256, more for larger bounds; zeros once spent.
class ByteChoices : public Choices {
public:
    ByteChoices(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}
    bool Exhausted() const override { return at >= size; }
    uint32_t Below(uint32_t bound) override {
        uint64_t value = 0;
        for (uint64_t span = 1; span < bound; span <<= 8) value = value << 8 | (at < size ? data[at++] : 0);
        return uint32_t(value % bound);
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

struct Geometry {
    uint32_t blockSize, pointerOffset;
    uint32_t blockLimit;   // 0xFFFFFFFF: none; otherwise allocations run out
    uint32_t maxFileSize;  // the largest file the run makes
};

struct Stats {
    uint64_t steps = 0, applied = 0, refused = 0, spaceRefusals = 0, reopens = 0;
    uint32_t deepest = 0;  // the deepest index tree seen on disk
    std::map<std::string, uint64_t> outcomes;  // "rename ok", "delete NOTFOUND", ...
};

class Run {
public:
    explicit Run(const Geometry& geometry) : g(geometry) {
        file = new MemoryFile;
        if (WriteEmptyBlockFile(file, g.blockSize, g.pointerOffset, g.blockLimit)) {
            fault = "cannot write the empty block file";
            delete file;
            file = nullptr;
            return;
        }
        pool = new CWritableBFHP;
        if (pool->Attach(file)) {
            fault = "cannot attach the empty block file";
            delete pool;
            delete file;
            file = nullptr;
            return;
        }
        fs = std::make_unique<CWritableHPFS>(pool);
        root = std::make_shared<Node>();
        root->directory = true;
    }

    ~Run() { CloseAll(); }

    // "" while every step has matched the model; the first fault otherwise.
    const std::string& Fault() const { return fault; }
    const Stats& Statistics() const { return stats; }
    // The last operations, for a failure report.
    std::string Log() const {
        std::string text;
        for (const std::string& line : log) text += "  " + line + "\n";
        return text;
    }

    // One chosen operation, then the whole tree checked against the model.
    bool Step(Choices& c) {
        if (!fault.empty()) return false;
        ++stats.steps;
        const uint32_t op = c.Below(100);
        if (op < 14) Create(c);
        else if (op < 22) OpenExisting(c);
        else if (op < 28) Close(c);
        else if (op < 47) Write(c);
        else if (op < 56) Truncate(c);
        else if (op < 63) ReadBack(c);
        else if (op < 70) Delete(c);
        else if (op < 78) Rename(c);
        else if (op < 85) MakeDirectory(c);
        else if (op < 91) RemoveDirectory(c);
        else if (op < 94) LargestSize(c);
        else if (op < 98) FlushThroughFile(c);
        else Reopen();
        if (fault.empty()) CheckAll();
        return fault.empty();
    }

    // Closes every open file, flushes, checks the bytes with the raw reader
    // and the block accounting, and reopens the pack from them.
    bool Reopen() {
        if (!fault.empty()) return false;
        Note("reopen");
        CloseAll();
        if (ErrorCode error = pool->Flush()) return Fail(std::string("Flush: ") + ErrorText(error));
        const std::vector<uint8_t> bytes = file->data;
        std::vector<uint32_t> handles{uint32_t(fs->RootHandle())};
        CheckRaw(bytes, uint32_t(fs->RootHandle()), root, "", &handles);
        if (!fault.empty()) return false;
        if (std::string problem = CheckBlockAccounting(bytes, handles); !problem.empty()) return Fail(problem);
        for (uint32_t h : handles) stats.deepest = std::max(stats.deepest, RawWord(bytes, uint64_t(h) * g.blockSize + 4) & 0xFFFF);
        fs.reset();
        file = new MemoryFile(bytes);
        pool = new CWritableBFHP;
        if (ErrorCode error = pool->Attach(file)) {
            delete pool;
            delete file;
            file = nullptr;
            return Fail(std::string("reattach: ") + ErrorText(error));
        }
        fs = std::make_unique<CWritableHPFS>(pool);
        ++stats.reopens;
        CheckAll();
        return fault.empty();
    }

private:
    struct Node;
    using NodePtr = std::shared_ptr<Node>;
    struct Node {
        bool directory = false;
        std::vector<uint8_t> data;
        std::vector<std::pair<std::string, NodePtr>> entries;  // stored order
        int open = 0;
    };
    struct OpenFile {
        CFile* file;
        NodePtr node;
    };
    using Path = std::vector<std::string>;
    struct Found {
        ErrorCode code = nullptr;
        NodePtr parent;  // null for the root
        size_t index = 0;
        NodePtr node;
    };

    static constexpr uint16_t kShared = FM_READ | FM_WRITE | FM_SHARE_READ | FM_SHARE_WRITE;
    static constexpr size_t kMaxOpen = 4;
    static constexpr size_t kMaxNodes = 40;

    // --- Model ----------------------------------------------------------------

    static bool SameName(const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
            char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
            if (x != y) return false;
        }
        return true;
    }

    static size_t Find(const NodePtr& directory, const std::string& name) {
        for (size_t i = 0; i < directory->entries.size(); ++i)
            if (SameName(directory->entries[i].first, name)) return i;
        return SIZE_MAX;
    }

    // As the service resolves: a missing component is "NOTFOUND", a file with
    // more components after it "\"Unknown error\"".
    Found Resolve(const Path& path) const {
        Found found;
        found.node = root;
        for (size_t i = 0; i < path.size(); ++i) {
            size_t index = Find(found.node, path[i]);
            if (index == SIZE_MAX) return Found{ERR_NOTFOUND, nullptr, 0, nullptr};
            NodePtr next = found.node->entries[index].second;
            if (i + 1 < path.size() && !next->directory) return Found{ERR_UNKNOWN, nullptr, 0, nullptr};
            found.parent = found.node;
            found.index = index;
            found.node = next;
        }
        return found;
    }

    // The parent directory of a path to be made: its resolution's code, or
    // "\"Unknown error\"" when it is a file.
    Found ResolveParent(const Path& path) const {
        Found parent = Resolve(Path(path.begin(), path.end() - 1));
        if (!parent.code && !parent.node->directory) parent.code = ERR_UNKNOWN;
        return parent;
    }

    size_t NodeCount() const {
        size_t count = 0;
        ForEach(root, Path(), [&](const Path&, const NodePtr&) { ++count; });
        return count;
    }

    template <typename Visit>
    static void ForEach(const NodePtr& node, const Path& path, Visit visit) {
        visit(path, node);
        if (!node->directory) return;
        for (auto& [name, child] : node->entries) {
            Path below = path;
            below.push_back(name);
            ForEach(child, below, visit);
        }
    }

    // --- Choosing paths and contents ------------------------------------------

    std::string ChooseName(Choices& c) {
        static const char* const names[] = {"a", "b", "c", "LOCAL", "strings3.ini", "x.bin", "Data"};
        if (c.OneIn(40)) return std::string(252 + c.Below(2), 'n');  // the longest name, and one too long
        std::string name = names[c.Below(7)];
        if (c.OneIn(4))
            for (char& ch : name)
                if (std::isalpha(static_cast<unsigned char>(ch))) ch = char(ch ^ 0x20);
        return name;
    }

    Path ChooseNode(Choices& c, bool directoriesOnly) {
        std::vector<Path> paths;
        ForEach(root, Path(), [&](const Path& path, const NodePtr& node) {
            if (!directoriesOnly || node->directory) paths.push_back(path);
        });
        if (paths.empty()) return Path();
        Path path = paths[c.Below(uint32_t(paths.size()))];
        if (c.OneIn(3))  // the same entries in another letter case
            for (std::string& name : path)
                for (char& ch : name)
                    if (std::isalpha(static_cast<unsigned char>(ch)) && c.OneIn(2)) ch = char(ch ^ 0x20);
        return path;
    }

    Path ChooseFile(Choices& c) {
        std::vector<Path> paths;
        ForEach(root, Path(), [&](const Path& path, const NodePtr& node) {
            if (!node->directory) paths.push_back(path);
        });
        return paths.empty() ? ChooseNode(c, false) : paths[c.Below(uint32_t(paths.size()))];
    }

    // An existing file or any entry, a new name in an existing directory,
    // or now and then a path through a file or a missing directory.
    Path ChoosePath(Choices& c) {
        uint32_t kind = c.Below(20);
        if (kind < 7) return ChooseFile(c);
        if (kind < 11) return ChooseNode(c, false);
        Path path = ChooseNode(c, kind < 18);
        if (kind == 19) path.push_back("missing");
        path.push_back(ChooseName(c));
        return path;
    }

    // An open file to work through; when none is open, one is opened (and
    // made when there is none).
    OpenFile* ChooseOpen(Choices& c) {
        if (open.empty()) {
            Path path = ChooseFile(c);
            Found found = Resolve(path);
            if (found.code || found.node->directory) return nullptr;
            Note("open " + Show(path) + " to work on");
            ErrorCode error = nullptr;
            CFile* f = fs->Open(Join(path).c_str(), kShared, &error);
            if (!Agree(nullptr, error, false)) return nullptr;
            ++found.node->open;
            open.push_back({f, found.node});
        }
        return &open[c.Below(uint32_t(open.size()))];
    }

    // The service's spelling: either separator, now and then a leading one.
    std::string Render(const Path& path, Choices& c) {
        std::string text = c.OneIn(8) ? "\\" : "";
        for (size_t i = 0; i < path.size(); ++i) {
            if (i) text += c.OneIn(4) ? "/" : "\\";
            text += path[i];
        }
        return text;
    }

    static std::string Join(const Path& path) {
        std::string text;
        for (size_t i = 0; i < path.size(); ++i) text += (i ? "\\" : "") + path[i];
        return text;
    }

    Path PathOf(const NodePtr& target) const {
        Path found;
        ForEach(root, Path(), [&](const Path& path, const NodePtr& node) {
            if (node == target) found = path;
        });
        return found;
    }

    static std::string Show(const Path& path) {
        std::string text;
        for (size_t i = 0; i < path.size(); ++i)
            text += (i ? "\\" : "") + (path[i].size() > 20 ? path[i].substr(0, 3) + "<" + std::to_string(path[i].size()) + ">" : path[i]);
        return text.empty() ? "<root>" : text;
    }

    std::vector<uint8_t> Content(Choices& c, uint32_t length) {
        std::mt19937 random(c.Below(1u << 24));
        std::vector<uint8_t> bytes(length);
        for (uint8_t& b : bytes) b = uint8_t(random());
        return bytes;
    }

    uint32_t ChooseLength(Choices& c, uint32_t from) {
        uint32_t room = g.maxFileSize > from ? g.maxFileSize - from : 0;
        uint32_t length;
        switch (c.Below(6)) {
            case 0: case 1: case 2: length = c.Below(64); break;
            case 3: case 4: length = c.Below(4 * g.blockSize); break;
            default: length = c.Below(g.maxFileSize / 2 + 1); break;
        }
        return std::min(length, room);
    }

    // --- Comparing results ----------------------------------------------------

    void Note(const std::string& line) {
        if (line.compare(0, 2, "  ") != 0) operation = line.substr(0, line.find(' '));
        log.push_back(line);
        if (log.size() > 24) log.pop_front();
    }

    bool Fail(const std::string& what) {
        if (fault.empty()) fault = what + "\nlast operations:\n" + Log();
        return false;
    }

    // Whether the library's result agrees with the model's; true when the
    // model is to apply the change. A run with a block limit may refuse what
    // needs space, with any error, changing nothing.
    bool Agree(ErrorCode expected, ErrorCode actual, bool needsSpace) {
        Note(std::string("  -> ") + (actual ? ErrorText(actual) : "ok") +
             (expected != actual ? std::string(" (model: ") + (expected ? ErrorText(expected) : "ok") + ")" : ""));
        ++stats.outcomes[operation + " " + (actual ? ErrorText(actual) : "ok")];
        if (expected == actual) {
            ++(expected ? stats.refused : stats.applied);
            return !expected;
        }
        if (g.blockLimit != 0xFFFFFFFF && needsSpace && actual && (!expected || actual == ERR_ALLOCFAIL)) {
            ++stats.spaceRefusals;
            return false;
        }
        Fail(std::string("result ") + (actual ? ErrorText(actual) : "ok") + ", the model says " +
             (expected ? ErrorText(expected) : "ok"));
        return false;
    }

    // Bytes that a resize or a write past the end exposed hold whatever the
    // blocks held; the model takes them as read, and they must stay.
    void AdoptGap(OpenFile& o, uint32_t from, uint32_t to) {
        if (to <= from) return;
        std::vector<uint8_t> gap(to - from);
        o.file->Seek(int32_t(from), ORIGIN_BEGIN);
        if (ErrorCode error = o.file->Read(gap.data(), uint32_t(gap.size()), nullptr)) {
            Fail(std::string("reading the new bytes: ") + ErrorText(error));
            return;
        }
        std::copy(gap.begin(), gap.end(), o.node->data.begin() + from);
    }

    // --- Operations -----------------------------------------------------------

    void Create(Choices& c) {
        Path path = ChoosePath(c);
        if (path.empty() || NodeCount() >= kMaxNodes) return;
        std::string text = Render(path, c);
        Note("create " + Show(path));
        Found found = Resolve(path);
        ErrorCode expected = nullptr;
        bool needsSpace = false;
        if (!found.code) {
            if (found.node->directory) expected = ERR_UNKNOWN;
        } else {
            Found parent = ResolveParent(path);
            expected = parent.code ? parent.code : path.back().size() > kMaxNameLength ? ERR_BADPARAMS : nullptr;
            needsSpace = true;
        }
        ErrorCode actual = ERR_UNKNOWN;
        CFile* f = fs->Open(text.c_str(), kShared | FM_CREATE, &actual);
        if ((f != nullptr) != (actual == nullptr)) Fail("Open's result and its error disagree");
        if (!Agree(expected, actual, needsSpace)) {
            delete f;
            return;
        }
        NodePtr node = found.code ? std::make_shared<Node>() : found.node;
        node->data.clear();
        if (found.code) Resolve(Path(path.begin(), path.end() - 1)).node->entries.push_back({path.back(), node});
        Keep(f, node, c);
    }

    void Keep(CFile* f, const NodePtr& node, Choices& c) {
        if (open.size() < kMaxOpen && c.OneIn(2)) {
            ++node->open;
            open.push_back({f, node});
        } else {
            delete f;
        }
    }

    void OpenExisting(Choices& c) {
        // Often a file that is open already: two files on one handle.
        Path path = !open.empty() && c.OneIn(2) ? PathOf(open[c.Below(uint32_t(open.size()))].node) : ChoosePath(c);
        Note("open " + Show(path));
        Found found = Resolve(path);
        ErrorCode expected = found.code ? found.code : found.node->directory ? ERR_UNKNOWN : nullptr;
        ErrorCode actual = ERR_UNKNOWN;
        CFile* f = fs->Open(Render(path, c).c_str(), kShared, &actual);
        if (!Agree(expected, actual, false)) {
            delete f;
            return;
        }
        Keep(f, found.node, c);
    }

    void Close(Choices& c) {
        if (open.empty()) return;
        size_t k = c.Below(uint32_t(open.size()));
        Note("close file " + std::to_string(k));
        delete open[k].file;
        --open[k].node->open;
        open.erase(open.begin() + long(k));
    }

    void CloseAll() {
        for (OpenFile& o : open) {
            delete o.file;
            --o.node->open;
        }
        open.clear();
    }

    void Write(Choices& c) {
        OpenFile* chosen = ChooseOpen(c);
        if (!chosen) return;
        OpenFile& o = *chosen;
        const uint32_t size = uint32_t(o.node->data.size());
        uint32_t position;
        switch (c.Below(8)) {
            case 0: case 1: case 2: case 3: case 4: position = c.Below(size + 1); break;
            case 5: case 6: position = size + c.Below(2 * g.blockSize); break;  // past the end
            default: position = c.Below(g.maxFileSize + 1); break;
        }
        position = std::min(position, g.maxFileSize);
        uint32_t length = ChooseLength(c, position);
        std::vector<uint8_t> bytes = Content(c, length);
        uint32_t put = 12345;
        bool grows, agreed;
        // Refused for space, a write tries half as much: the pack fills up,
        // and small operations meet the limit too.
        for (int attempt = 0;; ++attempt, length /= 2) {
            Note("write " + std::to_string(length) + " at " + std::to_string(position) + " (size " + std::to_string(size) + ")");
            ErrorCode actual = o.file->Seek(int32_t(position), ORIGIN_BEGIN);
            if (!actual) actual = o.file->Write(bytes.data(), length, &put);
            grows = position + length > size;
            const uint64_t before = stats.spaceRefusals;
            agreed = Agree(nullptr, actual, grows && length > 0);
            if (agreed || stats.spaceRefusals == before || attempt == 6 || length < 2) break;
        }
        if (!agreed) return;
        if (put != length) Fail("Write reports " + std::to_string(put) + " bytes");
        if (length == 0) return;
        if (grows) o.node->data.resize(position + length);
        std::copy(bytes.begin(), bytes.begin() + length, o.node->data.begin() + position);
        if (position > size) AdoptGap(o, size, position);
    }

    void Truncate(Choices& c) {
        OpenFile* chosen = ChooseOpen(c);
        if (!chosen) return;
        OpenFile& o = *chosen;
        const uint32_t size = uint32_t(o.node->data.size());
        uint32_t target;
        switch (c.Below(6)) {
            case 0: case 1: case 2: target = c.Below(size + 1); break;
            case 3: case 4: target = size + c.Below(3 * g.blockSize); break;
            default: target = c.Below(g.maxFileSize + 1); break;
        }
        target = std::min(target, g.maxFileSize);
        Note("truncate to " + std::to_string(target) + " (size " + std::to_string(size) + ")");
        ErrorCode actual = o.file->Seek(int32_t(target), ORIGIN_BEGIN);
        if (!actual) actual = o.file->Truncate();
        if (!Agree(nullptr, actual, target > size)) return;
        o.node->data.resize(target);
        if (target > size) AdoptGap(o, size, target);
    }

    void ReadBack(Choices& c) {
        OpenFile* chosen = ChooseOpen(c);
        if (!chosen) return;
        OpenFile& o = *chosen;
        const uint32_t size = uint32_t(o.node->data.size());
        const uint32_t position = c.Below(size + 16), length = c.Below(3 * g.blockSize);
        Note("read " + std::to_string(length) + " at " + std::to_string(position) + " (size " + std::to_string(size) + ")");
        std::vector<uint8_t> got(length + 1, 0xEE);
        uint32_t count = 12345;
        o.file->Seek(int32_t(position), ORIGIN_BEGIN);
        if (ErrorCode error = o.file->Read(got.data(), length, &count)) {
            Fail(std::string("Read: ") + ErrorText(error));
            return;
        }
        const uint32_t expected = position >= size ? 0 : std::min(length, size - position);
        if (count != expected) Fail("Read gives " + std::to_string(count) + " bytes, not " + std::to_string(expected));
        else if (count && !std::equal(got.begin(), got.begin() + count, o.node->data.begin() + position))
            Fail("Read gives other bytes");
        else if (got[count] != 0xEE)
            Fail("Read writes past what it reports");
        if (o.file->Seek(0, ORIGIN_END) || o.file->Tell() != size) Fail("Seek to the end is not at the size");
    }

    void Delete(Choices& c) {
        Path path = ChoosePath(c);
        Note("delete " + Show(path));
        Found found = Resolve(path);
        ErrorCode expected = found.code        ? found.code
                             : found.node->directory ? ERR_UNKNOWN
                             : found.node->open      ? ERR_SHARING
                                                     : nullptr;
        if (!Agree(expected, fs->Delete(Render(path, c).c_str()), false)) return;
        found.parent->entries.erase(found.parent->entries.begin() + long(found.index));
    }

    static bool IsBelow(const Path& inner, const Path& outer) {
        if (inner.size() <= outer.size()) return false;
        for (size_t i = 0; i < outer.size(); ++i)
            if (!SameName(inner[i], outer[i])) return false;
        return true;
    }

    void Rename(Choices& c) {
        Path from = ChoosePath(c);
        Path to = c.OneIn(6) ? from : ChoosePath(c);
        if (!to.empty() && c.OneIn(6)) to.back() = ChooseName(c);
        Note("rename " + Show(from) + " to " + Show(to));
        Found found = Resolve(from);
        ErrorCode expected = found.code;
        Found parent;
        bool same = false;
        if (!expected) {
            if (from.empty()) expected = ERR_UNKNOWN;  // the root stays
            else if (found.node->directory && IsBelow(to, from)) expected = ERR_UNKNOWN;
        }
        if (!expected) {
            parent = to.empty() ? Found{ERR_UNKNOWN, nullptr, 0, nullptr} : ResolveParent(to);
            if (parent.code || to.back().size() > kMaxNameLength) {
                expected = ERR_UNKNOWN;
            } else {
                size_t clash = Find(parent.node, to.back());
                same = clash != SIZE_MAX && parent.node == found.parent && clash == found.index;
                if (clash != SIZE_MAX && !same) expected = ERR_UNKNOWN;
            }
        }
        if (!Agree(expected, fs->Rename(Render(from, c).c_str(), Render(to, c).c_str()), !same)) return;
        NodePtr node = found.node;
        found.parent->entries.erase(found.parent->entries.begin() + long(found.index));
        parent.node->entries.push_back({to.back(), node});
    }

    void MakeDirectory(Choices& c) {
        if (NodeCount() >= kMaxNodes) return;
        Path parentPath = c.OneIn(8) ? ChoosePath(c) : ChooseNode(c, true);
        std::string name = ChooseName(c);
        Note("mkdir " + Show(parentPath) + " + " + name.substr(0, 20));
        Found parent = Resolve(parentPath);
        ErrorCode expected = parent.code;
        if (!expected && !parent.node->directory) expected = ERR_UNKNOWN;
        if (!expected && name.size() > kMaxNameLength) expected = ERR_BADPARAMS;
        if (!expected && Find(parent.node, name) != SIZE_MAX) expected = ERR_UNKNOWN;
        if (!Agree(expected, fs->MakeDirectory(Render(parentPath, c).c_str(), name.c_str()), true)) return;
        auto node = std::make_shared<Node>();
        node->directory = true;
        parent.node->entries.push_back({name, node});
    }

    void RemoveDirectory(Choices& c) {
        Path parentPath = c.OneIn(8) ? ChoosePath(c) : ChooseNode(c, true);
        std::string name = ChooseName(c);
        Found parent = Resolve(parentPath);
        if (!parent.code && parent.node->directory && !parent.node->entries.empty() && c.Below(3))
            name = parent.node->entries[c.Below(uint32_t(parent.node->entries.size()))].first;
        Note("rmdir " + Show(parentPath) + " + " + name.substr(0, 20));
        ErrorCode expected = parent.code;
        if (!expected && !parent.node->directory) expected = ERR_UNKNOWN;
        size_t index = expected ? SIZE_MAX : Find(parent.node, name);
        if (!expected && index == SIZE_MAX) expected = ERR_NOTFOUND;
        NodePtr node = expected ? nullptr : parent.node->entries[index].second;
        if (!expected && (node->directory ? !node->entries.empty() : !node->data.empty())) expected = ERR_UNKNOWN;
        if (!expected && node->open) expected = ERR_SHARING;
        if (!Agree(expected, fs->RemoveDirectory(Render(parentPath, c).c_str(), name.c_str()), false)) return;
        parent.node->entries.erase(parent.node->entries.begin() + long(index));
    }

    // 0xFFFFFFFF is no size a file may take; the file stays as it was.
    void LargestSize(Choices& c) {
        OpenFile* chosen = ChooseOpen(c);
        if (!chosen) return;
        OpenFile& o = *chosen;
        uint32_t put = 12345;
        ErrorCode actual;
        if (c.OneIn(2)) {
            Note("write ending at 0xFFFFFFFF");
            o.file->Seek(int32_t(0xFFFFFFFBu), ORIGIN_BEGIN);
            actual = o.file->Write("four", 4, &put);
            if (put != 0) Fail("a refused write reports bytes");
        } else {
            Note("truncate at 0xFFFFFFFF");
            o.file->Seek(int32_t(0xFFFFFFFFu), ORIGIN_BEGIN);
            actual = o.file->Truncate();
        }
        Agree(ERR_SIZEOUTOFRANGE, actual, false);
    }

    void FlushThroughFile(Choices& c) {
        if (open.empty()) return;
        Note("flush through a file");
        Agree(ERR_NOTIMPLEMENTED, open[c.Below(uint32_t(open.size()))].file->Flush(), false);
    }

    // --- Checking ---------------------------------------------------------------

    // Every directory lists its entries in stored order with their kinds,
    // every file has the model's size and bytes, and every open file sees
    // the size of its handle.
    void CheckAll() {
        ForEach(root, Path(), [&](const Path& path, const NodePtr& node) {
            if (!fault.empty()) return;
            const std::string text = Join(path);
            if (node->directory) {
                FindRecord record = {};
                ErrorCode error = fs->FindFirst(&record, text.c_str());
                size_t i = 0;
                for (; !error; error = fs->FindNext(&record), ++i) {
                    if (i >= node->entries.size() || record.name != node->entries[i].first ||
                        ((record.attributes & FA_DIRECTORY) != 0) != node->entries[i].second->directory) {
                        Fail("the listing of " + Show(path) + " differs at entry " + std::to_string(i));
                        break;
                    }
                }
                fs->FindClose(&record);
                if (fault.empty() && (error != ERR_NOMOREFILES || i != node->entries.size()))
                    Fail("the listing of " + Show(path) + " ends after " + std::to_string(i) + " entries with " +
                         ErrorText(error));
                return;
            }
            ErrorCode error = nullptr;
            CFile* f = fs->Open(text.c_str(), FM_READ | FM_SHARE_READ | FM_SHARE_WRITE, &error);
            if (!f) {
                Fail("cannot open " + Show(path) + ": " + ErrorText(error));
                return;
            }
            std::vector<uint8_t> got(f->GetSize());
            if (got.size() != node->data.size())
                Fail(Show(path) + " has " + std::to_string(got.size()) + " bytes, not " + std::to_string(node->data.size()));
            else if (!got.empty() && (error = f->Read(got.data(), uint32_t(got.size()), nullptr)))
                Fail("cannot read " + Show(path) + ": " + ErrorText(error));
            else if (got != node->data)
                Fail(Show(path) + " holds other bytes");
            delete f;
        });
        for (OpenFile& o : open)
            if (fault.empty() && o.file->GetSize() != o.node->data.size()) Fail("an open file has a stale size");
    }

    // The tree as the raw reader sees it against the model; collects handles.
    void CheckRaw(const std::vector<uint8_t>& bytes, uint32_t handle, const NodePtr& node, const std::string& path,
                  std::vector<uint32_t>* handles) {
        if (!fault.empty()) return;
        std::vector<uint8_t> data = ReadRawData(bytes, handle);
        if (!node->directory) {
            if (data != node->data) Fail("on disk, " + path + " holds other bytes");
            return;
        }
        std::vector<RawEntry> entries = ParseRawEntries(data);
        if (entries.size() != node->entries.size()) {
            Fail("on disk, " + (path.empty() ? std::string("the root") : path) + " has " +
                 std::to_string(entries.size()) + " entries, not " + std::to_string(node->entries.size()));
            return;
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            const auto& [name, child] = node->entries[i];
            if (entries[i].name != name || ((entries[i].flags & kEntryDirectory) != 0) != child->directory) {
                Fail("on disk, entry " + std::to_string(i) + " of " + path + " differs");
                return;
            }
            handles->push_back(entries[i].handle);
            CheckRaw(bytes, entries[i].handle, child, path + "\\" + name.substr(0, 20), handles);
        }
    }

    Geometry g;
    MemoryFile* file = nullptr;  // owned by pool
    CBFHP* pool = nullptr;       // owned by fs
    std::unique_ptr<CHPFS> fs;
    NodePtr root;
    std::vector<OpenFile> open;
    std::deque<std::string> log;
    std::string operation;  // the kind of the operation being checked
    std::string fault;
    Stats stats;
};

}  // namespace hpfs_model

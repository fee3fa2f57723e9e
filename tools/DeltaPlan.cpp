// Plans and encodes the deltas of a patch.
#include "DeltaPlan.h"

#include "Command.h"
#include "DeltaEncode.h"
#include "MovedSource.h"
#include "PackNames.h"
#include "PatchSources.h"

#include "payload/DeltaKey.h"
#include "payload/LzssFormat.h"
#include "payload/PatchCrc.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace {

struct Scratch {
    explicit Scratch(uint32_t size) : memory(new uint8_t[size + 15]) {}
    void* Get() { return memory.get() + ((16 - reinterpret_cast<uintptr_t>(memory.get()) % 16) % 16); }
    std::unique_ptr<uint8_t[]> memory;
};

// The whole file's size in the container, measured block by block only
// until it passes limit (the delta it competes with is then smaller).
uint64_t CompressedSizeUpTo(const std::vector<uint8_t>& bytes, uint64_t limit)
{
    Scratch scratch(LzssEncoderScratchSize(kLzssPatchBitLengths));
    std::vector<uint8_t> packed(LzssWorkBufferSize(kLzssPatchBlockSize));
    uint64_t total = 0;
    for (size_t at = 0; at < bytes.size() && total <= limit; at += kLzssPatchBlockSize) {
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(kLzssPatchBlockSize, bytes.size() - at));
        uint32_t packedLength = std::min(static_cast<uint32_t>(packed.size()), length - 1);
        const bool coded = length > 1 &&
                           !EncodeBlockWithScratch(bytes.data() + at, length, packed.data(), &packedLength,
                                                   kLzssPatchBitLengths, nullptr, scratch.Get()) &&
                           packedLength < length;
        total += coded ? packedLength : length;
    }
    return total;
}

std::string DeltaFolderName(const std::string& relative)
{
    std::vector<std::string> components;
    for (const fs::path& part : fs::path(relative))
        components.push_back(part.string());
    return kDeltasFolder + FilesPackName(components).substr(5); // "FILES" becomes "DELTAS"
}

void WriteScratch(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw ToolError("cannot write the scratch file " + path);
}

struct OldContent {
    std::string path;                // the first base's file with it
    std::vector<std::string> bases;
};

// Each base's entries by relative path.
using EntryIndex = std::vector<std::map<std::string, const DiffEntry*>>;

// The deltas of one file, or why it goes whole: from each base's file at
// oldKey in index (the file's own path, or the folded path of the old file it
// was moved from, file->source).
void PlanFile(const std::vector<GameBase>& bases, const EntryIndex& index, const std::string& oldKey,
              const std::string& newPath, unsigned threads, ScratchFolder* keep, PlannedFile* file)
{
    std::map<std::pair<uint32_t, uint32_t>, OldContent> olds;
    const std::vector<uint8_t> neu = ReadSourceFile(newPath);
    file->newSize = static_cast<uint32_t>(neu.size());
    file->newCrc = Crc32(neu.data(), neu.size());
    const std::string folder = DeltaFolderName(file->relative);
    if (folder.size() + 1 + kDeltaKeyLength > kMaxPackNameLength) {
        file->why = "its name leaves no room for the delta's";
        return;
    }
    for (size_t b = 0; b < bases.size(); ++b) {
        const auto found = index[b].find(oldKey);
        const DiffEntry* entry = found == index[b].end() ? nullptr : found->second;
        if (entry == nullptr || entry->kind == DiffEntry::kNew) {
            file->why = "not in " + bases[b].label;
            return;
        }
        if (entry->kind == DiffEntry::kSame)
            continue;
        const std::vector<uint8_t> old = ReadSourceFile(entry->oldPath);
        const std::pair<uint32_t, uint32_t> key(static_cast<uint32_t>(old.size()), Crc32(old.data(), old.size()));
        const auto [it, fresh] = olds.emplace(key, OldContent{entry->oldPath, {}});
        if (!fresh && ReadSourceFile(it->second.path) != old) {
            file->why = "two of its old contents share size and CRC-32";
            return;
        }
        it->second.bases.push_back(bases[b].label);
    }
    for (const auto& [key, content] : olds) {
        const std::vector<uint8_t> old = ReadSourceFile(content.path);
        std::vector<uint8_t> delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), threads);
        if (!file->source.empty())
            AddDeltaSource(&delta, BackslashPath(file->source));
        if (file->compressed <= delta.size())
            file->compressed = std::max(file->compressed, CompressedSizeUpTo(neu, delta.size()));
        if (delta.size() >= file->compressed) {
            file->why = "its delta from " + (file->source.empty() ? "" : file->source + " of ") +
                        content.bases.front() + " (" + std::to_string(delta.size()) +
                        " bytes) is not smaller than the file compressed";
            file->deltas.clear();
            return;
        }
        char name[kDeltaKeyLength + 1];
        FormatDeltaKey(key.first, key.second, name);
        DeltaPiece piece{folder + "\\" + name, content.bases, key.first, key.second, delta.size(), ""};
        if (keep) {
            static std::atomic<unsigned> written{0};
            piece.path = keep->Path() + "/delta" + std::to_string(written++);
            WriteScratch(piece.path, delta);
        }
        file->deltas.push_back(piece);
    }
    file->whole = false;
}

} // namespace

ScratchFolder::ScratchFolder()
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path path = fs::temp_directory_path() /
                          ("qptool-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::error_code error;
    if (!fs::create_directories(path, error))
        throw ToolError("cannot make the scratch folder " + path.string());
    path_ = path.string();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code error;
    fs::remove_all(path_, error);
}

size_t DeltaPlan::Conflicts() const
{
    size_t count = 0;
    for (const DiffPlan& diff : diffs)
        count += diff.Count(DiffEntry::kConflict);
    return count;
}

bool DeltaPlan::CarriesWhole(const std::string& relative) const
{
    for (const PlannedFile& file : files)
        if (file.relative == relative)
            return file.whole;
    return false;
}

bool DeltaPlan::Removes(const std::string& relative) const
{
    return std::any_of(removals.begin(), removals.end(),
                       [&](const RemovedFile& file) { return file.relative == relative; });
}

bool DeltaPlan::HasDeltaOnlyFile() const
{
    return std::any_of(files.begin(), files.end(), [](const PlannedFile& f) { return !f.whole; });
}

DeltaPlan PlanDeltas(const std::vector<GameBase>& bases, const std::string& newFolder, bool whole, unsigned threads,
                     ScratchFolder* keep)
{
    DeltaPlan plan;
    std::set<std::string> carried;
    for (const GameBase& base : bases) {
        plan.diffs.push_back(PlanVersionDiff(base.folder, newFolder));
        carried.insert(plan.diffs.back().carried.begin(), plan.diffs.back().carried.end());
    }
    if (plan.Conflicts())
        return plan;
    // Whole or as deltas, every carried file is written under its name:
    // the same name rules as every build form, before any encoding.
    for (const std::string& relative : carried)
        CarriedPackName(newFolder, relative);
    EntryIndex index(bases.size()), onlyOld(bases.size());
    for (size_t b = 0; b < bases.size(); ++b)
        for (const DiffEntry& entry : plan.diffs[b].entries)
            if (entry.kind != DiffEntry::kOnlyOld)
                index[b][entry.relative] = &entry;
            else
                onlyOld[b][Folded(entry.relative)] = &entry;
    // The files every base has and the new version lacks: where a new file
    // no base has may have come from.
    std::vector<MovedCandidate> gone;
    for (const auto& [name, entry] : onlyOld.front())
        if (std::all_of(onlyOld.begin(), onlyOld.end(),
                        [&, &folded = name](const auto& base) { return base.count(folded); }) &&
            entry->relative.size() <= kDeltaMaxSource && WrittenPathProblem(BackslashPath(entry->relative)).empty())
            gone.push_back({entry->relative, entry->size, entry->oldPath});
    const MovedSources moved(std::move(gone));
    for (const std::string& relative : carried) {
        PlannedFile file;
        file.relative = relative;
        const std::string newPath = (fs::path(newFolder) / relative).string();
        if (whole)
            file.why = "--whole";
        else
            PlanFile(bases, index, relative, newPath, threads, keep, &file);
        const bool inNoBase = std::none_of(index.begin(), index.end(), [&](const auto& base) {
            const auto found = base.find(relative);
            return found != base.end() && found->second->kind != DiffEntry::kNew;
        });
        if (!whole && file.whole && inNoBase) {
            if (const MovedCandidate* source = moved.Find(relative, newPath)) {
                file.source = source->relative;
                file.why.clear();
                PlanFile(bases, onlyOld, Folded(source->relative), newPath, threads, keep, &file);
                if (file.whole)
                    file.source.clear();
            }
        }
        if (file.whole)
            for (const DeltaPiece& piece : file.deltas)
                if (!piece.path.empty())
                    fs::remove(piece.path);
        if (file.whole)
            file.deltas.clear();
        plan.files.push_back(file);
    }
    return plan;
}

void PrintDeltaPlan(const DeltaPlan& plan, const std::vector<GameBase>& bases, std::FILE* out)
{
    for (size_t b = 0; b < bases.size(); ++b)
        for (const DiffEntry& entry : plan.diffs[b].entries) {
            if (entry.kind == DiffEntry::kConflict)
                std::fprintf(out, "conflict  %s: %s (base %s)\n", entry.relative.c_str(), entry.why.c_str(),
                             bases[b].label.c_str());
            // A removed file is named once; the others stay, kept or not
            // in every base.
            if (entry.kind == DiffEntry::kOnlyOld && (b == 0 || !plan.Removes(entry.relative)))
                PrintOnlyOld(plan.removals, entry.relative, "only in " + bases[b].label, out);
        }
    size_t whole = 0, deltas = 0;
    uint64_t deltaBytes = 0;
    for (const PlannedFile& file : plan.files) {
        if (file.whole) {
            ++whole;
            std::fprintf(out, "whole     %s (%s)\n", file.relative.c_str(), file.why.c_str());
            continue;
        }
        for (const DeltaPiece& piece : file.deltas) {
            std::string from;
            for (const std::string& label : piece.bases)
                from += (from.empty() ? "" : ",") + label;
            if (!file.source.empty())
                from = file.source + " of " + from;
            std::fprintf(out, "delta     %s from %s: %llu bytes (whole file %u bytes)\n", file.relative.c_str(),
                         from.c_str(), static_cast<unsigned long long>(piece.size), file.newSize);
            ++deltas;
            deltaBytes += piece.size;
        }
    }
    size_t deltaFiles = plan.files.size() - whole;
    std::fprintf(out, "%zu files carried whole, %zu as %zu deltas (%llu bytes), %zu removed, %zu conflicts\n", whole,
                 deltaFiles, deltas, static_cast<unsigned long long>(deltaBytes), plan.removals.size(),
                 plan.Conflicts());
}

// The plan of a patch built against the installed versions it accepts: every
// file of the new folder that is new or differs from some base goes either
// whole into FILES\ or as deltas into DELTAS\ (payload/DeltaKey.h), one
// delta per distinct old content among the bases. A file goes whole when
// asked to, when some base lacks it, when its pack name leaves no room for
// the delta tree, when two different old contents share size and CRC-32, or
// when one of its deltas is not smaller than the compressed whole file
// (the whole file then serves every base). A file no base has at its path
// goes as deltas from the old file it was moved from, if one is found
// (MovedSource.h) and its deltas pass the same test. Memory holds one file pair at a
// time; the deltas go to a scratch folder as they are made.
#pragma once

#include "GameBase.h"
#include "VersionDiff.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct DeltaPiece {
    std::string packName;            // DELTAS\<PATH>\<old size><old CRC>
    std::vector<std::string> bases;  // the labels of the bases with this old content
    uint32_t oldSize = 0, oldCrc = 0;
    uint64_t size = 0;               // the delta's bytes
    std::string path;                // the delta's scratch file ("" when not kept)
};

struct PlannedFile {
    std::string relative;            // '/'-separated, as written in the new folder
    bool whole = true;
    std::string why;                 // why it goes whole
    uint32_t newSize = 0, newCrc = 0;
    uint64_t compressed = 0;         // the whole file compressed, as far as it was measured
    std::vector<DeltaPiece> deltas;  // empty when whole
    std::string source;              // the old file's path, when moved from another (MovedSource.h)
};

struct DeltaPlan {
    std::vector<DiffPlan> diffs;     // one per base, in the bases' order
    std::vector<PlannedFile> files;  // every carried file, by relative path
    std::vector<RemovedFile> removals;  // set by PlanRemovals(diffs, ...)
    size_t Conflicts() const;
    bool CarriesWhole(const std::string& relative) const;
    // Whether some changed file can only be rebuilt from a delta.
    bool HasDeltaOnlyFile() const;
    bool Removes(const std::string& relative) const;
};

// A folder of its own below the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Plans (and encodes) the patch from the bases to newFolder. With whole,
// every carried file goes whole and nothing is encoded. With keep, the
// deltas are written into it; otherwise only their sizes are kept.
DeltaPlan PlanDeltas(const std::vector<GameBase>& bases, const std::string& newFolder, bool whole, unsigned threads,
                     ScratchFolder* keep);

// Prints conflicts, what stays and, for each carried file, whole or each
// delta with its bases and size; then a summary line.
void PrintDeltaPlan(const DeltaPlan& plan, const std::vector<GameBase>& bases, std::FILE* out);

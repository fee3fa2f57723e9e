// Where a new file of a two-version build came from, when no base has a file
// of its name: an old file renamed or moved (engine-1.2.dll now
// engine-1.3.dll, a pack moved to another folder) is carried as deltas from
// its old path (kDeltaSource in payload/Delta.h). The rule, cheap and
// bounded whatever the tree's size (no pair of files is tried blindly):
// - candidates are the files every base has and the new version lacks (the
//   patch removes them, unless kept), reached through two indexes: the same
//   file name in another folder, or the same extension and the same stem
//   once its digits, dots, dashes, underscores and blanks are dropped
//   ("engine-1.2.dll" and "engine-1.3.dll" are both "engine" ".dll");
// - a candidate's size lies within a factor of 2 of the new file's;
// - at most 2 * kMovedSampled have their contents sampled: of the same name,
//   the closest sizes; of the same stem, the neighbours of the new file's
//   name in name order (they share its longest beginning: engine-1.2.dll beside
//   engine-1.3.dll, asset_0020.dat beside asset_0020_2.dat). Samples are
//   hashes of the 32 bytes before each position where a rolling hash picks
//   one, about 4096 per file, so that moved content picks the same samples.
//   The one sharing the most samples with the new file is the source, if it
//   shares any (files too small to sample are taken by name alone).
// The build then keeps its deltas only if each is smaller than the whole
// file compressed, as for every delta.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr size_t kMovedSampled = 4;

struct MovedCandidate {
    std::string relative;  // '/'-separated, as the first base writes it
    uint64_t size = 0;     // in the first base
    std::string path;      // the first base's file
};

class MovedSources {
public:
    explicit MovedSources(std::vector<MovedCandidate> candidates);
    // The source of the new file at relative (read from newPath only when
    // some candidate's name and size fit); null for none.
    const MovedCandidate* Find(const std::string& relative, const std::string& newPath) const;

private:
    std::vector<MovedCandidate> all_;
    // Candidate indexes by folded file name (each list in order of size),
    // and by extension and stem (in order of folded file name).
    std::vector<std::string> names_;  // each candidate's folded file name
    std::map<std::string, std::vector<size_t>> byName_, byStem_;
};

// The sorted, distinct content samples of bytes, one per about every
// sampleEvery bytes (a power of two).
std::vector<uint32_t> ContentSamples(const uint8_t* bytes, size_t size, uint32_t sampleEvery);

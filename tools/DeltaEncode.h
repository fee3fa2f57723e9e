// The delta encoder (format in src/payload/Delta.h): the new file as edits
// of the old one, found by hashed matching with approximate extension and
// range coded. Holds both files in memory; threads 0 uses every core. Flags
// other than the default only write the older streams a patcher still reads.
// A segmented stream is sent only when some pair of its segments will be
// decoded on two threads (both streams of at least pairedFrom bytes, which
// the patcher's rule pairs); its segments are cut to equal decoding work,
// as many as the new file has multiples of size bytes (and at most
// kDeltaMaxSegment each). Tests make both small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "payload/Delta.h"

struct DeltaSegmenting {
    size_t size = size_t(1) << 20;
    uint32_t pairedFrom = kDeltaPairedFrom;
};

// A command of the stream: count add bytes made from the old file at
// oldStart (the seek there first), then extra literal bytes of the new file.
struct DeltaCommand {
    uint32_t oldStart = 0;
    uint32_t add = 0;
    uint32_t extra = 0;
};

// The one-stream delta (header.flags without kDeltaSegments) of commands
// chosen by the caller, for old files no one holds in memory (tests reach
// past 2 GiB with it): oldAt(position, n) gives the old file's n bytes at
// position, n at most kDeltaGroup.
std::vector<uint8_t> EncodeDeltaCommands(const DeltaHeader& header, const std::vector<DeltaCommand>& commands,
                                         const std::function<const uint8_t*(uint32_t, uint32_t)>& oldAt,
                                         const uint8_t* neu);

// With kDeltaReferences in flags, an x86 image (PE or ELF) is also encoded
// against its predicted references (src/payload/DeltaRefs.h), the smaller
// delta kept.
std::vector<uint8_t> EncodeDelta(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                 unsigned threads = 0,
                                 uint32_t flags = kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests |
                                                  kDeltaBlake3 | kDeltaReferences,
                                 const DeltaSegmenting& segmenting = {});

// The delta against old with its references predicted by refModel (the
// model's bytes, DeltaRefs.h), smaller or not; empty when the model is not
// sound for old.
std::vector<uint8_t> EncodeDeltaPredicted(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                          const std::vector<uint8_t>& refModel, unsigned threads = 0,
                                          uint32_t flags = kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments |
                                                           kDeltaDigests | kDeltaBlake3,
                                          const DeltaSegmenting& segmenting = {});

// The delta rebuilding from the old file at source (a path below the game
// folder, backslash-separated) rather than at the new file's own path: the
// header's kDeltaSource field put in. The delta must carry digests.
void AddDeltaSource(std::vector<uint8_t>* delta, const std::string& source);

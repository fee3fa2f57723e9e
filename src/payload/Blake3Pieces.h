// A file's BLAKE3 on two threads: this thread reads the file in aligned
// pieces into a ring of buffers, and each piece's subtree (Blake3.h) is
// hashed by whichever thread is free, this one or a helper; the values are
// joined here in file order. The check before the first change takes a
// large key file this way.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/DeltaContent.h"
#include "payload/HelperThreads.h"

// A piece: 64 chunks, a subtree of its own. Small enough that the last
// piece hashed keeps one thread waiting little and the ring stays in the
// processors' caches (128 KB pieces or 8 slots measured 5-25% slower);
// large enough that a read costs little beside its hashing.
constexpr uint32_t kBlake3Piece = 64 * kBlake3Chunk;
// Pieces read ahead of their joining.
constexpr unsigned kBlake3Slots = 4;
constexpr uint32_t kBlake3RingSize = kBlake3Piece * kBlake3Slots;

// MeasureContent (DeltaContent.h) for kMeasureBlake3 alone: reads file from
// its start to its end through ring (kBlake3RingSize bytes), the pieces
// hashed with a helper thread from threads when one can be had, here alone
// otherwise. A read error as the file gives it; "EOF" when it ends before
// its size.
ErrorCode MeasureBlake3Pieces(CFile* file, uint8_t* ring, const HelperThreads& threads, DeltaContent* content);

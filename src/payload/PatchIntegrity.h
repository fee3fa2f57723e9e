// The strict reading of a patch payload: its container's block table, its
// blocks (decoded, or for a version-2 checksum entry read raw up to the
// entry's block), and the checksum entry of the pack inside it (PatchCrc.h).
//
// Strict rules, beyond what CLzssFile needs to read a container:
// - the block-offset table starts right after itself and never runs
//   backwards, and no block runs past the container's end;
// - a compressed block (stored length below its length) decodes to exactly
//   its length;
// - a raw block's stored length equals its length, except that the last
//   block may carry zero bytes behind its data, up to the block size (a
//   small patch is padded that way so that the payload scan finds it).
// So bytes appended behind a container, a cut-off one and most flipped
// bytes are faults here, while a reader that takes what it is given may
// read them as data.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "payload/HelperThreads.h"
#include "payload/PackFS.h"
#include "payload/PatchCrc.h"

constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

// The first fault found: what (a fixed text), where, and in which block.
struct IntegrityFault {
    const char* what = nullptr;
    uint32_t offset = 0;      // in the container, or in the pack image when inPack
    bool inPack = false;
    uint32_t block = kNoBlock;
    // A checksum that does not match cannot tell which byte differs: the
    // end of the range it covers (offset is its start, in the same terms).
    uint32_t end = 0;
    uint32_t syndrome = 0;  // that checksum's CRC as found xor as stored
};

// Receives each block's decoded bytes in order: imageOffset is where they
// lie in the contents.
typedef void (*BlockSink)(void* context, uint32_t imageOffset, const uint8_t* bytes, uint32_t length);

// Decodes every block of the container once under the strict rules, handing
// each to sink (may be null). False with the fault on the first breach.
// Memory and time grow with the container's real size: a block table must
// lie inside it, and a compressed block cannot claim more bytes than its
// stored bytes could ever decode to. With a block range, the header and
// the whole table are checked and only blocks [firstBlock, endBlock) are
// decoded: the walks of adjoining ranges together make the whole walk.
bool WalkContainerStrictly(CFile* container, BlockSink sink, void* context, IntegrityFault* fault,
                           uint32_t firstBlock = 0, uint32_t endBlock = kNoBlock);

// Lets the checksum pass over a large container run in two halves at once:
// a reader of the same container bytes of its own (a file object serves
// one thread), and a way to run work on another thread and wait for it.
struct ChecksumHelper {
    CFile* container;
    uint32_t minimumBlocks;  // smaller containers are walked in one piece
    HelperThreads threads;
};

// How far the check of a version-2 entry goes: at start-up, the stored
// bytes up to the entry's block and the blocks from there decoded; every
// byte also decodes every block for the pack's CRC (version 1 always does).
enum class ChecksumDepth { kStartUp, kEveryByte };

enum class PatchChecksum {
    kAbsent,  // no checksum entry: no patch the tool writes, refused by the patcher
    kSound,   // the entry is well-formed and the whole pack matches it
    kBroken,  // see the fault
};

// Checks the pack attached to pack (which reads image, a CLzssFile over
// container). The pack carries a checksum when its directory names
// "PATCH.CRC" or its last 16 or 24 bytes begin with the entry's magic (so
// that a damaged directory entry cannot pass for an old, unchecked pack).
// Then the entry must lie last in the pack, carry the magic, a version
// whose size it has, and its own offset as the covered size. Version 1: the
// strict pass over the container must give its CRC over the covered bytes.
// Version 2 (PatchCrc.h): the container's table must pass the strict rules,
// its stored bytes up to the entry's block give the stored CRC, and the
// blocks from there, decoded strictly, the tail CRC; with kEveryByte the
// version-1 check follows. A bare pack (no container: null) is read through
// image instead, for the CRC of the covered bytes.
// With a helper the second half of the container's blocks is read beside
// the first; the outcome, and the fault reported, are the same.
PatchChecksum CheckPatchChecksum(CPackFS* pack, CFile* image, CFile* container, IntegrityFault* fault,
                                 const ChecksumHelper* helper = nullptr,
                                 ChecksumDepth depth = ChecksumDepth::kStartUp);

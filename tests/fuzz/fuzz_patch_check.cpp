// The patcher's start-up over damaged copies of a built patch: the input
// is a list of changes (5 bytes each: offset, xor value) after a first byte
// that cuts bytes off the end (low 7 bits, times 97) or, with the high bit,
// appends that many. An input with bytes left over behind its last whole
// change damages the patch whose checksum entry is of version 1, any other
// the patch of version 2 (as qptool build writes it). The payload scan, the
// window end, CLzssFile, CPackFS and the checksum check then read it as the
// patcher does. Oracle: a patch the check calls sound reads back exactly as
// built, entry by entry, and passes verify's strict pass and its check of
// every byte.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "PayloadLayout.h"
#include "app/Payload.h"
#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "payload/PatchIntegrity.h"
#include "payload/PatchSeal.h"
#include "payload/SignedImage.h"
#include "pools/DefaultPools.h"

namespace {

struct Built {
    std::vector<uint8_t> patch, image;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
};

std::vector<uint8_t> Filler(size_t n, uint32_t seed, bool text) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = text ? uint8_t("patch the game "[(seed >> 16) % 15]) : uint8_t(seed >> 23);
    }
    return v;
}

const Built& Patch(uint32_t version) {
    static const auto build = [](uint32_t v) {
        Built b;
        b.files = {{"Patch.ini", Filler(400, 1, true)},
                   {"Files\\a.txt", Filler(40000, 2, true)},
                   {"Files\\b.bin", Filler(9000, 3, false)},
                   {"Files\\c\\d.txt", Filler(30000, 4, true)}};
        std::vector<PackWriterEntry> entries;
        for (const auto& [name, bytes] : b.files) entries.push_back({name.c_str(), bytes.data(), uint32_t(bytes.size()), 0});
        uint8_t* raw = nullptr;
        uint32_t size = 0;
        if (BuildCheckedPackImage(entries.data(), uint32_t(entries.size()), &raw, &size, v)) __builtin_trap();
        MemoryFile container;
        if (v == kPatchCrcVersion ? CompressLzssImage(raw, size, &container, 0x8000, 0xC4, nullptr)
                                  : CompressSealedPatch(raw, size, &container, 0x8000, 0xC4, nullptr))
            __builtin_trap();
        b.image.assign(raw, raw + size);
        g_pDefaultPtrPool->Free(raw);
        size_t offset = 0;
        b.patch = LayOutPatch(Filler(20000, 5, false), container.data, b.image.data(), size, &offset);
        return b;
    };
    static const Built first = build(kPatchCrcVersion), second = build(kPatchCrcStoredVersion);
    return version == kPatchCrcVersion ? first : second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Built& built = Patch(size > 0 && (size - 1) % 5 != 0 ? kPatchCrcVersion : kPatchCrcStoredVersion);
    std::vector<uint8_t> patch = built.patch;
    if (size > 0) {
        const size_t amount = size_t(data[0] & 0x7F) * 97;
        if (data[0] & 0x80) patch.insert(patch.end(), amount, uint8_t(amount));
        else patch.resize(patch.size() - (amount < patch.size() ? amount : patch.size()));
    }
    for (size_t i = 1; i + 5 <= size && !patch.empty(); i += 5) {
        uint32_t at;
        std::memcpy(&at, data + i, 4);
        patch[at % patch.size()] ^= data[i + 4];
    }

    MemoryFile self(patch);
    uint32_t offset = 0;
    if (!FindPayloadOffset(&self, &offset)) return 0;
    const uint32_t end = PayloadEnd(&self, offset);
    if (end < offset || end > patch.size()) __builtin_trap();
    auto* window = new CWindowFile(&self, offset, end - offset, false);
    auto* lzss = new CLzssFile(window, true);
    if (!lzss->isOpen) {
        delete lzss;
        return 0;
    }
    CPackFS pack;
    if (pack.Attach(lzss)) return 0;
    IntegrityFault fault;
    if (CheckPatchChecksum(&pack, lzss, window, &fault) != PatchChecksum::kSound) return 0;

    // Sound: every byte as built.
    if (lzss->GetSize() != built.image.size()) __builtin_trap();
    std::vector<uint8_t> image(built.image.size());
    if (ReadExactly(lzss, 0, image.data(), uint32_t(image.size())) || image != built.image)
        __builtin_trap();
    for (const auto& [name, bytes] : built.files) {
        ErrorCode error = nullptr;
        CFile* file = pack.Open(name.c_str(), FM_READ, &error);
        if (!file || file->GetSize() != bytes.size()) __builtin_trap();
        std::vector<uint8_t> back(bytes.size());
        if (ReadExactly(file, 0, back.data(), uint32_t(back.size())) || back != bytes) __builtin_trap();
        delete file;
    }
    if (!WalkContainerStrictly(window, nullptr, nullptr, &fault)) __builtin_trap();
    if (CheckPatchChecksum(&pack, lzss, window, &fault, nullptr, ChecksumDepth::kEveryByte) != PatchChecksum::kSound)
        __builtin_trap();
    return 0;
}

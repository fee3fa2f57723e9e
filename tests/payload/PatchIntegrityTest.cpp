// The strict pass over a payload and its checksum entry, on damaged copies
// of real containers: flipped bytes, cut and lengthened ends, lying headers;
// and the certificate table of signed PE images.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "framework/LittleEndian.h"
#include "MemoryFile.h"
#include "TestData.h"
#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "payload/PatchIntegrity.h"
#include "payload/PatchSeal.h"
#include "payload/SignedImage.h"
#include "pools/DefaultPools.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct NamedBytes {
    std::string name;
    Bytes bytes;
};

Bytes PackOf(const std::vector<NamedBytes>& files, bool checked) {
    std::vector<PackWriterEntry> entries;
    for (const NamedBytes& f : files) entries.push_back({f.name.c_str(), f.bytes.data(), uint32_t(f.bytes.size()), 0});
    uint8_t* raw = nullptr;
    uint32_t size = 0;
    const ErrorCode error = checked ? BuildCheckedPackImage(entries.data(), uint32_t(entries.size()), &raw, &size)
                                    : BuildPackImage(entries.data(), uint32_t(entries.size()), &raw, &size);
    EXPECT_EQ(error, nullptr);
    Bytes image(raw, raw + size);
    g_pDefaultPtrPool->Free(raw);
    return image;
}

Bytes ContainerOf(const Bytes& image) {
    MemoryFile out;
    EXPECT_EQ(CompressLzssImage(image.data(), uint32_t(image.size()), &out, 0x8000, 0xC4, nullptr), nullptr);
    return out.data;
}

// A patch's pack and container as the writer makes them, with the checksum
// entry of the given version.
struct Built {
    Bytes image, container;
};

Built Build(const std::vector<NamedBytes>& files, uint32_t version) {
    Built b;
    if (version == kPatchCrcVersion) {
        b.image = PackOf(files, true);
        b.container = ContainerOf(b.image);
        return b;
    }
    std::vector<PackWriterEntry> entries;
    for (const NamedBytes& f : files) entries.push_back({f.name.c_str(), f.bytes.data(), uint32_t(f.bytes.size()), 0});
    uint8_t* raw = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(BuildCheckedPackImage(entries.data(), uint32_t(entries.size()), &raw, &size, version), nullptr);
    MemoryFile out;
    EXPECT_EQ(CompressSealedPatch(raw, size, &out, 0x8000, 0xC4, nullptr), nullptr);
    b.image.assign(raw, raw + size);
    g_pDefaultPtrPool->Free(raw);
    b.container = out.data;
    return b;
}

// Three blocks of mixed data, Patch.ini and a Files tree.
std::vector<NamedBytes> Tree() {
    return {{"Patch.ini", testdata::Text(700, 1)},
            {"Files\\maps\\a.map", testdata::Binary(50000, 2)},
            {"Files\\noise.bin", testdata::Random(9000, 3)},
            {"Files\\readme.txt", testdata::Text(20000, 4)}};
}

using testdata::Le32;
void Put32(Bytes& b, size_t at, uint32_t v) { StoreU32(b.data() + at, v); }

struct Checked {
    PatchChecksum result = PatchChecksum::kBroken;
    PatchChecksum everyByte = PatchChecksum::kBroken;  // verify's depth
    IntegrityFault fault;
    bool mounted = false;
    Bytes decoded;  // the pack as CLzssFile reads it, when mounted
};

// A helper thread over a second reader, as the patcher gives the check.
void* StartThread(void (*work)(void*), void* argument) { return new std::thread(work, argument); }
void JoinThread(void* started) {
    auto* thread = static_cast<std::thread*>(started);
    thread->join();
    delete thread;
}

// The patcher's chain over a container: CLzssFile, CPackFS, then the check,
// once in one piece and once in two halves on two threads, which must agree
// on the outcome and on the fault; and verify's check of every byte, which
// must refuse whatever the patcher's refuses.
Checked Check(const Bytes& container) {
    Checked out;
    MemoryFile disk(container);
    auto* window = new CWindowFile(&disk, 0, CWindowFile::kWindowToEnd, false);
    auto* lzss = new CLzssFile(window, true);
    if (!lzss->isOpen) {
        delete lzss;
        return out;
    }
    CPackFS pack;
    if (pack.Attach(lzss)) return out;
    out.mounted = true;
    out.result = CheckPatchChecksum(&pack, lzss, window, &out.fault);
    MemoryFile second(container);
    const ChecksumHelper helper{&second, 2, {StartThread, JoinThread}};
    IntegrityFault split;
    EXPECT_EQ(CheckPatchChecksum(&pack, lzss, window, &split, &helper), out.result);
    EXPECT_EQ(split.what, out.fault.what);
    EXPECT_EQ(split.offset, out.fault.offset);
    EXPECT_EQ(split.block, out.fault.block);
    IntegrityFault deep;
    out.everyByte = CheckPatchChecksum(&pack, lzss, window, &deep, &helper, ChecksumDepth::kEveryByte);
    if (out.result != PatchChecksum::kSound) {
        EXPECT_EQ(out.everyByte, out.result);
    }
    out.decoded.resize(lzss->GetSize());
    if (ReadExactly(lzss, 0, out.decoded.data(), uint32_t(out.decoded.size())))
        out.decoded.clear();
    return out;
}

bool Walks(const Bytes& container, IntegrityFault* fault) {
    MemoryFile file(container);
    return WalkContainerStrictly(&file, nullptr, nullptr, fault);
}

TEST(PatchChecksum, ASoundCheckedPackPassesAndOneWithoutTheEntryIsReportedAbsent) {
    const Bytes plain = PackOf(Tree(), false);
    for (uint32_t version : {kPatchCrcVersion, kPatchCrcStoredVersion}) {
        const Built built = Build(Tree(), version);
        Checked sound = Check(built.container);
        EXPECT_EQ(sound.result, PatchChecksum::kSound) << version << (sound.fault.what ? sound.fault.what : "");
        EXPECT_EQ(sound.everyByte, PatchChecksum::kSound) << version;
        EXPECT_EQ(sound.decoded, built.image) << version;
    }
    Checked old = Check(ContainerOf(plain));
    EXPECT_EQ(old.result, PatchChecksum::kAbsent);
    // Absent, whatever lies behind the container (the patcher refuses it all the same).
    Bytes longer = ContainerOf(plain);
    longer.push_back(0x5A);
    EXPECT_EQ(Check(longer).result, PatchChecksum::kAbsent);
}

TEST(PatchChecksum, EveryFlippedByteIsRefusedOrReadsExactlyAsBuilt) {
    for (uint32_t version : {kPatchCrcVersion, kPatchCrcStoredVersion}) {
        const Built built = Build(Tree(), version);
        const Bytes& image = built.image;
        const Bytes& container = built.container;
        int refused = 0, unmounted = 0;
        for (size_t at = 0; at < container.size(); at += (at < 200 ? 1 : 37)) {
            for (uint8_t mask : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
                Bytes damaged = container;
                damaged[at] ^= mask;
                const Checked c = Check(damaged);
                if (!c.mounted) {
                    ++unmounted;
                    continue;
                }
                if (c.result == PatchChecksum::kBroken) {
                    ++refused;
                    EXPECT_NE(c.fault.what, nullptr);
                    continue;
                }
                // Accepted only where the flip changed nothing that is read.
                ASSERT_EQ(c.result, PatchChecksum::kSound) << "offset " << at;
                EXPECT_EQ(c.decoded, image) << "offset " << at << " mask " << int(mask) << " version " << version;
            }
        }
        EXPECT_GT(refused, 1000) << version;
        EXPECT_GT(unmounted, 0) << version;
    }
}

TEST(PatchChecksum, CutAndLengthenedContainersAreRefused) {
    for (uint32_t version : {kPatchCrcVersion, kPatchCrcStoredVersion}) {
        const Bytes container = Build(Tree(), version).container;
        const uint32_t count = (Le32(container, 4) - 1) / 0x8000 + 1;
        for (uint32_t k = 1; k <= count; ++k) {
            const size_t boundary = k < count ? Le32(container, 14 + 4 * k) : container.size();
            for (size_t cut : {boundary - 1, boundary, boundary + 1}) {
                if (cut >= container.size()) continue;
                const Checked c = Check(Bytes(container.begin(), container.begin() + long(cut)));
                EXPECT_TRUE(!c.mounted || c.result == PatchChecksum::kBroken) << "cut at " << cut;
            }
        }
        for (size_t extra : {1u, 1000u, 30000u}) {
            Bytes longer = container;
            for (size_t i = 0; i < extra; ++i) longer.push_back(uint8_t(i * 7 + 1));
            const Checked c = Check(longer);
            EXPECT_TRUE(!c.mounted || c.result == PatchChecksum::kBroken) << extra << " bytes appended";
        }
    }
}

TEST(PatchChecksum, ZerosBehindARawLastBlockAreItsPaddingAndNothingElse) {
    // A small pack: one block, stored raw as the patch layout stores it.
    const Bytes image = PackOf({{"Patch.ini", testdata::Text(300, 9)}}, true);
    Bytes container = ContainerOf(Bytes());
    container = Bytes(container.begin(), container.begin() + 14);
    Put32(container, 4, uint32_t(image.size()));
    container.resize(18);
    Put32(container, 14, 18);
    container.insert(container.end(), image.begin(), image.end());
    container.resize(container.size() + 5000, 0);
    EXPECT_EQ(Check(container).result, PatchChecksum::kSound);
    container.back() = 1;
    Checked c = Check(container);
    EXPECT_EQ(c.result, PatchChecksum::kBroken);
    EXPECT_STREQ(c.fault.what, "bytes other than zeros lie behind the last block's data");
    EXPECT_EQ(c.fault.offset, container.size() - 1);
    // Up to the block size only.
    container.back() = 0;
    container.resize(18 + 0x8000 + 1, 0);
    EXPECT_EQ(Check(container).result, PatchChecksum::kBroken);
}

TEST(PatchChecksum, AMisplacedOrMalformedEntryIsRefused) {
    std::vector<NamedBytes> tree = Tree();
    const Bytes good = PackOf(tree, true);
    Bytes entry(good.end() - 16, good.end());

    // Written by hand as an ordinary entry: its data lies before PATCH.INI's.
    tree.push_back({"PATCH.CRC", entry});
    EXPECT_STREQ(Check(ContainerOf(PackOf(tree, false))).fault.what, "the PATCH.CRC entry does not lie last in the pack");

    auto withEntry = [&](size_t field, uint32_t value) {
        Bytes image = good;
        Put32(image, image.size() - 16 + field, value);
        return Check(ContainerOf(image));
    };
    EXPECT_STREQ(withEntry(4, 2).fault.what, "the PATCH.CRC entry has an unknown version");
    EXPECT_STREQ(withEntry(8, Le32(good, good.size() - 8) - 1).fault.what,
                 "the PATCH.CRC entry does not cover the pack up to itself");
    EXPECT_STREQ(withEntry(12, Le32(good, good.size() - 4) ^ 1).fault.what,
                 "the pack's CRC-32 does not match its PATCH.CRC entry");
    EXPECT_STREQ(withEntry(0, 0x43524358).fault.what, "the PATCH.CRC entry has no \"QCRC\" magic");

    // A damaged name cannot make a checked pack pass for an old one: its
    // last bytes still carry the magic.
    Bytes renamed = good;
    const size_t name = std::string(renamed.begin(), renamed.end()).find("CRC");
    ASSERT_NE(name, std::string::npos);
    renamed[name] = 'D';
    Checked c = Check(ContainerOf(renamed));
    EXPECT_EQ(c.result, PatchChecksum::kBroken);
    EXPECT_STREQ(c.fault.what, "the pack ends in checksum bytes but names no PATCH.CRC entry");
}

// A sealed patch damaged region by region: the header, each table entry,
// a block before the entry's (checked only through its stored bytes), the
// blocks from the entry's on, each field of the entry, the ends. The second
// tree puts the entry across a block boundary, so that a table entry lies
// behind the stored CRC's reach. Where the fault is certain it is named;
// elsewhere the copy is refused or reads exactly as built.
TEST(PatchChecksum, ASealedPatchRefusesDamageInEveryRegion) {
    std::vector<NamedBytes> straddling = Tree();
    straddling.push_back({"Files\\pad.bin", testdata::Text(1000, 8)});
    const uint32_t first = uint32_t(Build(straddling, kPatchCrcStoredVersion).image.size()) - 24;
    straddling.back().bytes.resize(1000 + 3 * 0x8000 - 8 - first);  // the entry starts 8 bytes before block 3
    for (const auto& tree : {Tree(), straddling}) {
        const Built built = Build(tree, kPatchCrcStoredVersion);
        const Bytes& c = built.container;
        const uint32_t covered = uint32_t(built.image.size()) - 24, k = covered / 0x8000;
        const uint32_t count = (uint32_t(built.image.size()) - 1) / 0x8000 + 1;
        auto start = [&](uint32_t j) { return j < count ? Le32(c, 14 + 4 * j) : uint32_t(c.size()); };
        struct Case {
            std::string name;
            Bytes bytes;
            const char* fault;  // null: refused, by whichever check comes first
        };
        std::vector<Case> cases;
        auto flipped = [&](size_t at, uint8_t mask) {
            Bytes b = c;
            b[at] ^= mask;
            return b;
        };
        const char* stored = "the container's stored bytes do not match the PATCH.CRC entry";
        const char* tail = "the pack's last blocks do not match the PATCH.CRC entry";
        cases.push_back({"reserved header byte", flipped(13, 0x01), stored});
        cases.push_back({"size field", flipped(4, 0x01), nullptr});
        cases.push_back({"block size field", flipped(9, 0x01), nullptr});
        cases.push_back({"bit lengths", flipped(12, 0x01), nullptr});
        for (uint32_t j = 0; j < count; ++j)
            for (uint8_t mask : {uint8_t(0x01), uint8_t(0x80)}) cases.push_back({"table entry " + std::to_string(j), flipped(14 + 4 * j, mask), nullptr});
        for (uint32_t j = 0; j < count; ++j) {
            // The middle of a block before k holds file data the mount does not read.
            const size_t middle = start(j) + (start(j + 1) - start(j)) / 2;
            cases.push_back({"block " + std::to_string(j), flipped(middle, 0x10), j > 0 && j < k ? stored : nullptr});
            cases.push_back({"block " + std::to_string(j) + "'s last byte", flipped(start(j + 1) - 1, 0x01), nullptr});
        }
        const std::pair<uint32_t, const char*> fields[] = {
            {0, "the PATCH.CRC entry has no \"QCRC\" magic"}, {4, "the PATCH.CRC entry has an unknown version"},
            {8, "the PATCH.CRC entry does not cover the pack up to itself"}, {12, tail}, {16, stored}, {20, tail}};
        for (const auto& [field, fault] : fields) {
            // The entry's decoded bytes changed, its blocks compressed anew.
            Bytes image = built.image;
            image[covered + field + 1] ^= 0x04;
            cases.push_back({"entry field " + std::to_string(field), ContainerOf(image), fault});
        }
        cases.push_back({"one byte cut", Bytes(c.begin(), c.end() - 1), nullptr});
        Bytes zeros = c, other = c;
        zeros.resize(c.size() + 64, 0);
        other.push_back(0x33);
        cases.push_back({"zeros appended", zeros, nullptr});
        cases.push_back({"a byte appended", other, nullptr});

        size_t accepted = 0;
        for (const Case& damaged : cases) {
            const Checked r = Check(damaged.bytes);
            const std::string name = damaged.name + (k + 1 < count ? " (entry across blocks)" : "");
            if (!r.mounted) {
                EXPECT_EQ(damaged.fault, nullptr) << name << ": the mount fails";
                continue;
            }
            if (damaged.fault) {
                EXPECT_EQ(r.result, PatchChecksum::kBroken) << name;
                EXPECT_STREQ(r.fault.what, damaged.fault) << name;
            } else if (r.result != PatchChecksum::kBroken) {
                // Padding bits of a stream's last byte, zeros behind a raw last block.
                EXPECT_EQ(r.decoded, built.image) << name << " is accepted but reads otherwise";
                ++accepted;
            }
        }
        EXPECT_LE(accepted, 3u);
    }
}

TEST(StrictWalk, RefusesTablesAndBlocksThatAReaderWouldTake) {
    const Bytes container = ContainerOf(PackOf(Tree(), false));
    IntegrityFault fault;
    ASSERT_TRUE(Walks(container, &fault));

    Bytes gap = container;  // the first block starts one byte late
    Put32(gap, 14, Le32(gap, 14) + 1);
    EXPECT_FALSE(Walks(gap, &fault));
    EXPECT_STREQ(fault.what, "the block table does not end where the first block starts");

    Bytes backwards = container;
    Put32(backwards, 22, Le32(backwards, 18) - 1);
    EXPECT_FALSE(Walks(backwards, &fault));
    EXPECT_STREQ(fault.what, "the block table runs backwards");
    EXPECT_EQ(fault.offset, 22u);
    EXPECT_EQ(fault.block, 2u);

    // Block 1 swallows block 2's bytes: too long to be compressed, so raw, and
    // longer than its length.
    Bytes raw = container;
    Put32(raw, 22, Le32(raw, 18) + 0x8000 + 10);
    EXPECT_FALSE(Walks(raw, &fault));
    EXPECT_EQ(fault.block, 1u);

    Bytes noMagic = container;
    noMagic[0] = 'X';
    EXPECT_FALSE(Walks(noMagic, &fault));
    EXPECT_EQ(fault.offset, 0u);
}

// Blocks are read many at a time; a read that fails (a bad sector) is
// reported at the block whose own bytes cannot be read, after every block
// before it has been handed over.
TEST(StrictWalk, AnUnreadableSpotIsReportedAtItsOwnBlock) {
    struct BadSector : MemoryFile {
        using MemoryFile::MemoryFile;
        uint32_t bad = 0;
        ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
            if (Tell() <= bad && bad < Tell() + size) return ERR_READFAIL;
            return MemoryFile::Read(buffer, size, bytesRead);
        }
    };
    const Bytes container = ContainerOf(PackOf(Tree(), false));
    const uint32_t count = (Le32(container, 4) - 1) / Le32(container, 8) + 1;
    ASSERT_GE(count, 3u);
    for (uint32_t block = 1; block < count; ++block) {
        BadSector disk(container);
        disk.bad = Le32(container, 14 + 4 * block) + 1;
        uint32_t handed = 0;
        IntegrityFault fault;
        EXPECT_FALSE(WalkContainerStrictly(
            &disk, [](void* n, uint32_t, const uint8_t*, uint32_t) { ++*static_cast<uint32_t*>(n); }, &handed,
            &fault));
        EXPECT_STREQ(fault.what, "a block cannot be read");
        EXPECT_EQ(fault.block, block);
        EXPECT_EQ(handed, block);
    }
    // The stored bytes of a sealed patch, read raw, in one piece and in two
    // halves: the same block is named.
    const Bytes sealed = Build(Tree(), kPatchCrcStoredVersion).container;
    for (bool split : {false, true}) {
        BadSector disk(sealed), second(sealed);
        disk.bad = second.bad = Le32(sealed, 14 + 4 * 1) + 100;  // block 1, before the entry's block 2
        auto* lzss = new CLzssFile(new CWindowFile(&disk, 0, CWindowFile::kWindowToEnd, false), true);
        CPackFS pack;
        ASSERT_EQ(pack.Attach(lzss), nullptr);
        const ChecksumHelper helper{&second, 2, {StartThread, JoinThread}};
        IntegrityFault fault;
        EXPECT_EQ(CheckPatchChecksum(&pack, lzss, &disk, &fault, split ? &helper : nullptr), PatchChecksum::kBroken);
        EXPECT_STREQ(fault.what, "a block cannot be read") << split;
        EXPECT_EQ(fault.block, 1u) << split;
        EXPECT_EQ(fault.offset, Le32(sealed, 18)) << split;
    }
}

TEST(StrictWalk, HeadersThatClaimGigabytesAreRefusedFromTheTableAlone) {
    // 2 KB that claim 4 GiB in 16 MiB blocks: 256 table entries fit.
    Bytes lying(2048, 0);
    std::memcpy(lying.data(), "LZSS", 4);
    Put32(lying, 4, 0xFFFFFFFFu);
    Put32(lying, 8, 0x1000000u);
    lying[12] = 0xC4;
    for (uint32_t k = 0; k < 256; ++k) Put32(lying, 14 + 4 * k, 14 + 4 * 256 + k / 100);
    IntegrityFault fault;
    EXPECT_FALSE(Walks(lying, &fault));
    EXPECT_STREQ(fault.what, "a compressed block claims more bytes than its stored bytes can hold");

    Put32(lying, 8, 0x8000);  // 131072 blocks: their table cannot lie in 2 KB
    EXPECT_FALSE(Walks(lying, &fault));
    EXPECT_STREQ(fault.what, "the block table runs past the container's end");
}

// A minimal PE image: DOS header, "PE", COFF header, optional header with
// 16 data directories; the security directory set as given.
Bytes PeImage(bool plus, uint32_t size, uint32_t certOffset, uint32_t certSize) {
    Bytes pe(size, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    Put32(pe, 0x3C, 0x80);
    std::memcpy(pe.data() + 0x80, "PE\0\0", 4);
    const size_t coff = 0x84, optional = coff + 20;
    const uint32_t directories = plus ? 112 : 96;
    pe[coff + 16] = uint8_t(directories + 16 * 8);
    pe[optional] = 0x0B;
    pe[optional + 1] = plus ? 0x02 : 0x01;
    Put32(pe, optional + directories - 4, 16);
    Put32(pe, optional + directories + 4 * 8, certOffset);
    Put32(pe, optional + directories + 4 * 8 + 4, certSize);
    return pe;
}

TEST(SignedImage, ThePayloadEndsWhereATrailingCertificateTableStarts) {
    for (bool plus : {false, true}) {
        MemoryFile signedFile(PeImage(plus, 40000, 36000, 4000));
        CertificateTable table;
        ASSERT_TRUE(FindCertificateTable(&signedFile, &table)) << plus;
        EXPECT_EQ(table.offset, 36000u);
        EXPECT_EQ(table.size, 4000u);
        EXPECT_EQ(PayloadEnd(&signedFile, 16384), 36000u);
        // A table before the payload, or one that stops short of the end, is no end of it.
        EXPECT_EQ(PayloadEnd(&signedFile, 36000), 40000u);
        MemoryFile shortTable(PeImage(plus, 40000, 36000, 3992));
        EXPECT_EQ(PayloadEnd(&shortTable, 16384), 40000u);
    }
    MemoryFile unsignedFile(PeImage(false, 40000, 0, 0));
    CertificateTable table;
    EXPECT_FALSE(FindCertificateTable(&unsignedFile, &table));
    EXPECT_EQ(PayloadEnd(&unsignedFile, 16384), 40000u);
    // Tables past the end, lying headers and ELF files are no tables.
    MemoryFile beyond(PeImage(false, 40000, 36000, 5000));
    EXPECT_FALSE(FindCertificateTable(&beyond, &table));
    Bytes farHeader = PeImage(true, 40000, 36000, 4000);
    Put32(farHeader, 0x3C, 0xFFFFFFF0u);
    MemoryFile farFile(farHeader);
    EXPECT_FALSE(FindCertificateTable(&farFile, &table));
    Bytes elf = PeImage(true, 40000, 36000, 4000);
    std::memcpy(elf.data(), "\x7F" "ELF", 4);
    MemoryFile elfFile(elf);
    EXPECT_EQ(PayloadEnd(&elfFile, 16384), 40000u);
    MemoryFile tiny(Bytes{'M', 'Z'});
    EXPECT_FALSE(FindCertificateTable(&tiny, &table));
}

}  // namespace

// The game's local pack damaged in every header field and in the heads of
// its two strings files, each kind plain and inside a container: the
// language check opens it, reads both strings files or gives up, and never
// crashes (run under the sanitizers too). A pack that cannot be read whole
// is no check: only an intact value is ever compared.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "SampleInstall.h"
#include "TestFiles.h"
#include "VectorFile.h"
#include "app/GameChecks.h"
#include "file/FileService.h"
#include "file/MountTable.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "platform/DiskFS.h"
#include "pools/DefaultPools.h"

namespace e2e {
namespace {

struct LocalPackKind {
    const char* name;
    sample::LocalPackFormat format;
    bool compressed;
};

const LocalPackKind kKinds[] = {
    {"BlockFile", sample::LocalPackFormat::kBlockFile, false},
    {"PackFile", sample::LocalPackFormat::kPackFile, false},
    {"BlockFileInContainer", sample::LocalPackFormat::kBlockFile, true},
    {"PackFileInContainer", sample::LocalPackFormat::kPackFile, true},
};

std::vector<uint8_t> Compress(const std::vector<uint8_t>& image) {
    CVectorFile container;
    EXPECT_EQ(CompressLzssImage(image.data(), uint32_t(image.size()), &container, kLzssPatchBlockSize,
                                kLzssPatchBitLengths, nullptr),
              nullptr);
    return container.data;
}

void SetWord(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

uint32_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i) value |= uint32_t(bytes[at + i]) << (8 * i);
    return value;
}

// Damaged copies of bytes: cut at many lengths, every byte of the head set
// to 0, 0xFF and its top bit flipped, and every word set to values that
// make offsets, sizes, depths and block numbers lie.
std::vector<std::vector<uint8_t>> Damaged(const std::vector<uint8_t>& bytes, size_t headLength, size_t wordStep = 4) {
    std::vector<std::vector<uint8_t>> all;
    for (size_t length = 0; length < bytes.size(); length += length < 64 ? 4 : bytes.size() / 16 + 1)
        all.emplace_back(bytes.begin(), bytes.begin() + length);
    for (size_t at = 0; at < headLength && at < bytes.size(); ++at)
        for (uint8_t value : {uint8_t(0), uint8_t(0xFF), uint8_t(bytes[at] ^ 0x80)}) {
            all.push_back(bytes);
            all.back()[at] = value;
        }
    for (size_t at = 0; at + 4 <= bytes.size(); at += at < headLength ? 4 : wordStep)
        for (uint32_t value : {0xFFFFFFFFu, Word(bytes, at) + 0x10000u, 6u}) {
            if (value == Word(bytes, at)) continue;
            all.push_back(bytes);
            SetWord(all.back(), at, value);
        }
    return all;
}

class LocalPackDamage : public ::testing::Test {
public:
protected:
    void SetUp() override {
        ASSERT_EQ(FileLayerInit(8), nullptr);
        ASSERT_EQ(DiskFSInit(), nullptr);
        path = temp.Path() + "/local.wdt";
    }
    void TearDown() override {
        DiskFSDone();
        FileLayerDone();
    }

    // Opens the pack and reads both strings files as the language check
    // does; the values say "german" and "Bauer", so an intact read differs.
    // The outcome: 0 no pack, 1 opened and no value read, 2 values read.
    int Check(const std::vector<uint8_t>& bytes) {
        WriteFile(path, std::string(bytes.begin(), bytes.end()));
        CFileService* service = OpenLocalPack(path.c_str());
        if (!service) return 0;
        bool language = PackValueDiffers(service, "LOCAL\\strings3.ini", "system", "language", "english");
        bool peon = PackValueDiffers(service, "LOCAL\\strings.ini", "objects", "peon", "peasant");
        delete service;
        return language || peon ? 2 : 1;
    }

    std::vector<uint8_t> Intact(const LocalPackKind& kind, bool compressed) {
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(sample::BuildLocalPack(kind.format, compressed,
                                           sample::LanguageFiles(std::string("german"), std::string("Bauer")), &bytes,
                                           &error))
            << error;
        return bytes;
    }

    TempDir temp{"localpack"};
    std::string path;
};

class LocalPackKindDamage : public LocalPackDamage, public ::testing::WithParamInterface<LocalPackKind> {};

TEST_P(LocalPackKindDamage, DamagedAnywhereNeverCrashes) {
    const LocalPackKind& kind = GetParam();
    std::vector<uint8_t> intact = Intact(kind, kind.compressed);
    ASSERT_EQ(Check(intact), 2) << "the intact pack must be read";
    size_t variants = 0, refused = 0;
    for (const std::vector<uint8_t>& damaged : Damaged(intact, 256)) {
        refused += Check(damaged) == 0;
        ++variants;
    }
    // Inside a container: the pack itself damaged, the container intact.
    if (kind.compressed) {
        for (const std::vector<uint8_t>& inner : Damaged(Intact(kind, false), 64, 16)) {
            if (inner.empty()) continue;
            refused += Check(Compress(inner)) == 0;
            ++variants;
        }
    }
    EXPECT_GT(refused, 0u);
    std::printf("%s: %zu damaged copies, %zu refused\n", kind.name, variants, refused);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalPackKindDamage, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<LocalPackKind>& param) { return param.param.name; });

TEST_F(LocalPackDamage, AContainerWithBlockSize0IsNoPack) {
    for (const LocalPackKind& kind : kKinds) {
        if (!kind.compressed) continue;
        std::vector<uint8_t> bytes = Intact(kind, true);
        SetWord(bytes, 8, 0);
        EXPECT_EQ(Check(bytes), 0) << kind.name;
    }
}

// A pack past 2 GiB is checked like any other: its strings file lies behind
// 2.25 GiB of other data (a sparse file: only the head and the text are written).
TEST_F(LocalPackDamage, APackPast2GiBIsChecked) {
    const std::string strings3 = "[system]\r\nlanguage = german\r\n";
    const PackWriterEntry entries[] = {{"LOCAL\\BIG.BIN", nullptr, 0x90000000u, 0},
                                       {"LOCAL\\STRINGS3.INI", nullptr, uint32_t(strings3.size()), 0}};
    uint8_t* head = nullptr;
    uint32_t headSize = 0, total = 0, offsets[2] = {};
    ASSERT_EQ(PlanCheckedPack(entries, 2, &head, &headSize, offsets, &total), nullptr);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(head), headSize);
        out.seekp(std::streamoff(offsets[1]));
        out << strings3;
        out.seekp(std::streamoff(total) - 1);
        out.put(0);
        ASSERT_TRUE(out.good());
    }
    g_pDefaultPtrPool->Free(head);
    ASSERT_GT(offsets[1], 0x90000000u);
    CFileService* service = OpenLocalPack(path.c_str());
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(PackValueDiffers(service, "LOCAL\\strings3.ini", "system", "language", "english"));
    delete service;
}

// A strings file whose reading fails part way is not compared: what arrived
// may end anywhere, in the middle of the value or before it.
class FailingReadService : public CFileService {
public:
    explicit FailingReadService(std::string text) : text_(std::move(text)) {}
    CFile* Open(const char*, uint16_t, ErrorCode* error) override {
        if (error) *error = nullptr;
        return new Failing(text_);
    }

private:
    class Failing : public CFile {
    public:
        explicit Failing(const std::string& text) : text_(text) { isOpen = true; }
        ErrorCode Read(void* buffer, uint32_t size, uint32_t* got) override {
            // The first read delivers the head of the text, the next fails.
            if (served_) {
                if (got) *got = 0;
                return ERR_READFAIL;
            }
            served_ = true;
            uint32_t n = uint32_t(text_.size()) < size ? uint32_t(text_.size()) : size;
            std::memcpy(buffer, text_.data(), n);
            if (got) *got = n;
            return nullptr;
        }
        uint32_t GetSize() override { return uint32_t(text_.size()) + 100; }

    private:
        std::string text_;
        bool served_ = false;
    };
    std::string text_;
};

TEST_F(LocalPackDamage, AFileThatCannotBeReadWholeIsNoCheck) {
    FailingReadService cut("[system]\r\nlanguage = eng");
    EXPECT_FALSE(PackValueDiffers(&cut, "LOCAL\\strings3.ini", "system", "language", "english"));
    FailingReadService empty("[system]\r\nlanguage =\r\n");
    EXPECT_FALSE(PackValueDiffers(&empty, "LOCAL\\strings3.ini", "system", "language", "english"));
}

}  // namespace
}  // namespace e2e

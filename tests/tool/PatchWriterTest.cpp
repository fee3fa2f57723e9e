// The streaming, multi-threaded patch writer against the in-memory build it
// replaces: the whole checked pack image in one buffer, the sealed container
// of CompressSealedPatch and the layout of LayOutPatch. Random trees, stubs of
// every alignment, one thread and several: the same bytes every time.
#include "TempDir.h"
#include "FakePatcher.h"
#include "OutputFile.h"
#include "PatchSources.h"
#include "PatchWriter.h"
#include "PayloadLayout.h"
#include "VectorFile.h"

#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "payload/PatchCrc.h"
#include "payload/PatchSeal.h"
#include "pools/DefaultPools.h"
#include "pools/PtrPool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace {

// The build as it was done before streaming: everything in memory, one thread.
std::vector<uint8_t> InMemoryPatch(const std::vector<uint8_t>& stub, const std::vector<PatchSource>& sources)
{
    std::vector<std::vector<uint8_t>> contents;
    for (const PatchSource& source : sources)
        contents.push_back(ReadBytes(source.hostPath));
    std::vector<PackWriterEntry> entries;
    for (size_t i = 0; i < sources.size(); ++i)
        entries.push_back({sources[i].packName.c_str(), contents[i].data(), static_cast<uint32_t>(contents[i].size()),
                           sources[i].dosDateTime});
    uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    EXPECT_EQ(BuildCheckedPackImage(entries.data(), static_cast<uint32_t>(entries.size()), &image, &imageSize,
                                    kPatchCrcStoredVersion),
              nullptr);
    CVectorFile container;
    EXPECT_EQ(CompressSealedPatch(image, imageSize, &container, kLzssPatchBlockSize, kLzssPatchBitLengths, nullptr),
              nullptr);
    size_t offset = 0;
    std::vector<uint8_t> patch = LayOutPatch(stub, std::move(container.data), image, imageSize, &offset);
    g_pDefaultPtrPool->Free(image);
    return patch;
}

class PatchWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(root_ / "out");
    }

    // A random tree: sizes from empty to several blocks, exact block
    // multiples, compressible text and incompressible noise.
    std::vector<PatchSource> RandomTree(std::mt19937& random, int files)
    {
        fs::remove_all(root_ / "in");
        WriteBytes(root_ / "in" / "Patch.ini", {'[', 's', 't', 'r', ']', '\n'});
        const size_t sizes[] = {0, 1, 100, 32767, 32768, 32769, 65536, 150000};
        for (int i = 0; i < files; ++i) {
            const size_t size = random() % 3 == 0 ? sizes[random() % 8] : random() % 20000;
            std::vector<uint8_t> bytes(size);
            const bool noise = random() % 2 == 0;
            for (uint8_t& b : bytes)
                b = noise ? static_cast<uint8_t>(random()) : static_cast<uint8_t>("ab cd\r\n"[random() % 7]);
            WriteBytes(root_ / "in" / "Files" / ("d" + std::to_string(random() % 3)) / ("f" + std::to_string(i)), bytes);
        }
        if (files == 0)
            fs::create_directories(root_ / "in" / "Files");
        return CollectPatchSources((root_ / "in" / "Patch.ini").string(), (root_ / "in" / "Files").string());
    }

    std::vector<uint8_t> Streamed(const std::vector<uint8_t>& stub, const std::vector<PatchSource>& sources,
                                  unsigned threads)
    {
        const fs::path path = root_ / "out" / "patch.exe";
        OutputStream out(path.string());
        const PatchWriteResult result = WritePatch(stub, sources, threads, &out, nullptr);
        out.Commit(fs::perms::owner_read | fs::perms::owner_write);
        std::vector<uint8_t> bytes = ReadBytes(path);
        EXPECT_EQ(result.patchSize, bytes.size());
        return bytes;
    }

    TempDir temp_{"writer"};  // removed with all it holds when the test ends
    fs::path root_{temp_.Path()};
};

TEST_F(PatchWriterTest, TheSameBytesAsTheInMemoryBuildOnAnyNumberOfThreads)
{
    std::mt19937 random(20261209);
    const size_t stubSizes[] = {200, 8191, 8192, 8193, 30000, 40961};
    for (int round = 0; round < 12; ++round) {
        const int files = round == 0 ? 0 : round < 3 ? 1 : static_cast<int>(random() % 40);
        const std::vector<PatchSource> sources = RandomTree(random, files);
        const std::string stubText = FakePatcher(stubSizes[round % 6]);
        const std::vector<uint8_t> stub(stubText.begin(), stubText.end());
        const std::vector<uint8_t> expected = InMemoryPatch(stub, sources);
        for (unsigned threads : {1u, 2u, 3u, 8u}) {
            const std::vector<uint8_t> streamed = Streamed(stub, sources, threads);
            ASSERT_EQ(streamed.size(), expected.size()) << "round " << round << ", " << threads << " threads";
            ASSERT_TRUE(streamed == expected) << "round " << round << ", " << threads << " threads";
        }
    }
}

TEST_F(PatchWriterTest, AFileThatChangesOnTheWayLeavesNothingBehind)
{
    std::mt19937 random(5);
    const std::vector<PatchSource> sources = RandomTree(random, 20);
    const std::string stubText = FakePatcher(30000);
    const std::vector<uint8_t> stub(stubText.begin(), stubText.end());
    for (const bool grows : {false, true}) {
        // The largest file changes its size after it was listed.
        const PatchSource* largest = &sources[0];
        for (const PatchSource& source : sources)
            largest = source.size > largest->size ? &source : largest;
        std::vector<uint8_t> changed = ReadBytes(largest->hostPath);
        changed.resize(grows ? changed.size() + 1 : changed.size() / 2, 'x');
        WriteBytes(largest->hostPath, changed);
        for (unsigned threads : {1u, 3u}) {
            try {
                OutputStream out((root_ / "out" / "patch.exe").string());
                WritePatch(stub, sources, threads, &out, nullptr);
                ADD_FAILURE() << "a changed file was not noticed";
            } catch (const std::exception& error) {
                EXPECT_NE(std::string(error.what()).find("changed while the patch was being built"), std::string::npos)
                    << error.what();
            }
            EXPECT_TRUE(fs::is_empty(root_ / "out"));
        }
    }
    // A missing file too.
    const std::vector<PatchSource> others = RandomTree(random, 5);
    fs::remove(others.back().hostPath);
    try {
        OutputStream out((root_ / "out" / "patch.exe").string());
        WritePatch(stub, others, 2, &out, nullptr);
        ADD_FAILURE() << "a missing file was not noticed";
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()).find("cannot read"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(fs::is_empty(root_ / "out"));
}

// Whether a patch near the largest the patcher reads back fits is known only
// once it is compressed: measured without writing, and exact to the byte.
TEST_F(PatchWriterTest, ThePatchSizeLimitGoesByTheCompressedSize)
{
    std::mt19937 random(7);
    std::vector<uint8_t> noise(200000);
    for (uint8_t& b : noise)
        b = static_cast<uint8_t>(random());
    WriteBytes(root_ / "in" / "Patch.ini", {'[', 's', 't', 'r', ']', '\n'});
    WriteBytes(root_ / "in" / "Files" / "noise.bin", noise);
    WriteBytes(root_ / "in" / "Files" / "zeros.bin", std::vector<uint8_t>(200000, 0));
    const std::vector<PatchSource> sources =
        CollectPatchSources((root_ / "in" / "Patch.ini").string(), (root_ / "in" / "Files").string());
    const std::string stubText = FakePatcher(30000);
    const std::vector<uint8_t> stub(stubText.begin(), stubText.end());
    const uint64_t size = Streamed(stub, sources, 2).size();
    fs::remove(root_ / "out" / "patch.exe");
    EXPECT_NO_THROW(CheckPatchFits(stub, sources, 2, size));
    for (const uint64_t limit : {size - 1, size / 2}) {
        try {
            CheckPatchFits(stub, sources, 2, limit);
            ADD_FAILURE() << "a patch of " << size << " bytes passed a limit of " << limit;
        } catch (const std::exception& error) {
            const std::string file = limit == size - 1 ? "zeros.bin" : "noise.bin";
            EXPECT_NE(std::string(error.what()).find(file + ": the patch would pass " + std::to_string(limit) + " bytes"),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_TRUE(fs::is_empty(root_ / "out"));
}

} // namespace

#include <gtest/gtest.h>

#include <vector>

#include "MemoryFile.h"
#include "SparseDiskFile.h"
#include "file/WindowFile.h"

namespace {

std::vector<uint8_t> Steps(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7);
    return v;
}

TEST(WindowFile, ShowsTheRestOfTheBaseFromItsStart) {
    MemoryFile base(Steps(1000));
    CWindowFile window(&base, 100, CWindowFile::kWindowToEnd, false);
    EXPECT_EQ(900u, window.GetSize());
    EXPECT_EQ(100u, base.Tell());
    EXPECT_EQ(0u, window.Tell());
    EXPECT_FALSE(window.isOpen);  // a window is always wrapped, never mounted itself
    EXPECT_EQ(CFile::className, window.GetClassName());
    uint8_t byte = 0;
    EXPECT_EQ(nullptr, window.ReadAt(&byte, 0, 1, nullptr));
    EXPECT_EQ(uint8_t(100 * 7), byte);
}

TEST(WindowFile, SeekRulesAndTheSharedPosition) {
    MemoryFile base(Steps(1000));
    CWindowFile window(&base, 100, CWindowFile::kWindowToEnd, false);
    EXPECT_EQ(nullptr, window.Seek(10, ORIGIN_END));  // offset bytes before the window's end
    EXPECT_EQ(990u, base.Tell());
    EXPECT_EQ(890u, window.Tell());
    EXPECT_EQ(nullptr, window.Seek(-90, ORIGIN_CURRENT));
    EXPECT_EQ(800u, window.Tell());
    EXPECT_EQ(nullptr, window.Seek(5, ORIGIN_BEGIN));
    EXPECT_EQ(105u, base.Tell());
    EXPECT_EQ(nullptr, window.Seek(50, 3));
    EXPECT_EQ(5u, window.Tell());
    base.Seek(300, ORIGIN_BEGIN);  // moving the base moves the window
    EXPECT_EQ(200u, window.Tell());
}

TEST(WindowFile, TransfersAreNotClippedAtTheWindowsEnd) {
    MemoryFile base(Steps(1000));
    CWindowFile window(&base, 100, 50, false);
    std::vector<uint8_t> out(20, 0xEE);
    uint32_t got = 0;
    EXPECT_EQ(ERR_EOF, window.ReadAt(out.data(), 890, 20, &got));  // the base has 10 bytes there
    EXPECT_EQ(10u, got);
    EXPECT_EQ(nullptr, window.ReadAt(out.data(), 60, 4, nullptr));  // past length 50, inside the base
    EXPECT_EQ(uint8_t(160 * 7), out[0]);
    uint8_t w[2] = {1, 2};
    EXPECT_EQ(nullptr, window.WriteAt(w, 0, 2, nullptr));
    EXPECT_EQ(1, base.data[100]);
    EXPECT_EQ(nullptr, window.CopyRange(10, 0, 2, 16, nullptr));
    EXPECT_EQ(2, base.data[111]);
}

// Transfers name their position: Read and Write are not provided and fail,
// changing nothing; Flush and Truncate are the base's, at the shared position.
TEST(WindowFile, ReadAndWriteFailFlushAndTruncateReachTheBase) {
    MemoryFile base(Steps(100));
    CWindowFile window(&base, 10, 20, false);
    uint8_t buffer[4] = {9, 9, 9, 9};
    uint32_t count = 77;
    EXPECT_EQ(ERR_NOTIMPLEMENTED, window.Read(buffer, 4, &count));
    EXPECT_EQ(9, buffer[0]);
    EXPECT_EQ(77u, count);
    EXPECT_EQ(ERR_NOTIMPLEMENTED, window.Write(buffer, 4, &count));
    EXPECT_EQ(Steps(100), base.data);
    EXPECT_EQ(nullptr, window.Flush());
    EXPECT_EQ(nullptr, window.SeekTo(5));
    EXPECT_EQ(nullptr, window.Truncate());
    EXPECT_EQ(15u, base.data.size());
}

TEST(WindowFile, AStartPastTheBaseGivesAnEmptyWindow) {
    MemoryFile base(Steps(100));
    CWindowFile window(&base, 500, CWindowFile::kWindowToEnd, false);
    EXPECT_EQ(0u, window.GetSize());
}

TEST(WindowFile, AnOwningWindowDestroysItsBaseOnce) {
    static int destroyed = 0;
    struct Counted : MemoryFile {
        ~Counted() override { ++destroyed; }
    };
    destroyed = 0;
    delete new CWindowFile(new Counted, 0, 0, true);
    EXPECT_EQ(1, destroyed);
    Counted kept;
    delete new CWindowFile(&kept, 0, 0, false);
    EXPECT_EQ(1, destroyed);
}

// Window and base positions past 2 GiB, over a sparse disk file.
class WindowFileLarge : public SparseDir {};

TEST_F(WindowFileLarge, PositionsPast2GiBInTheWindowAndInTheBase) {
    const auto path = MakeSparse("base", 0xF0000000ull);
    Poke(path, 0xD0000000ull, "deep", 4);
    auto base = OpenDisk(path);
    ASSERT_TRUE(base);
    CWindowFile window(base.get(), 0x40000000u, CWindowFile::kWindowToEnd, false);
    EXPECT_EQ(window.GetSize(), 0xB0000000u);
    char bytes[5] = {};
    EXPECT_EQ(window.ReadAt(bytes, 0x90000000u, 4, nullptr), nullptr);
    EXPECT_STREQ(bytes, "deep");
    EXPECT_EQ(window.WriteAt("wind", 0xA0000000u, 4, nullptr), nullptr);
    EXPECT_EQ(window.Seek(0x7FFFFFFF, ORIGIN_BEGIN), nullptr);
    EXPECT_EQ(base->Tell(), 0xBFFFFFFFu);
    EXPECT_EQ(window.Tell(), 0x7FFFFFFFu);
    EXPECT_EQ(window.Seek(0x10, ORIGIN_END), nullptr);
    EXPECT_EQ(base->Tell(), 0xEFFFFFF0u);
    // Before the base's start the base refuses; past 4 GiB there is no position.
    EXPECT_EQ(window.Seek(-0x40000001, ORIGIN_BEGIN), ERR_SEEKFAIL);
    EXPECT_EQ(window.Seek(INT32_MIN, ORIGIN_END), ERR_OUTOFRANGE);
    EXPECT_EQ(base->Tell(), 0xEFFFFFF0u);

    // A window that starts past 2 GiB.
    CWindowFile late(base.get(), 0xD0000000u, 8, false);
    EXPECT_EQ(base->Tell(), 0xD0000000u);
    EXPECT_EQ(late.Tell(), 0u);
    EXPECT_EQ(late.ReadAt(bytes, 0, 4, nullptr), nullptr);
    EXPECT_STREQ(bytes, "deep");
    base.reset();
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(0xE0000000ll));
    char host[5] = {};
    in.read(host, 4);
    EXPECT_STREQ(host, "wind");
}

}  // namespace

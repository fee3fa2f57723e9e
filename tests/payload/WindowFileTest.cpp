#include <gtest/gtest.h>

#include <vector>

#include "MemoryFile.h"
#include "file/WindowFile.h"

namespace {

std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7);
    return v;
}

TEST(WindowFile, ShowsTheRestOfTheBaseFromItsStart) {
    MemoryFile base(Bytes(1000));
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
    MemoryFile base(Bytes(1000));
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
    MemoryFile base(Bytes(1000));
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

TEST(WindowFile, ReadAndWriteAreTheDoNothingDefaults) {
    MemoryFile base(Bytes(100));
    CWindowFile window(&base, 10, 20, false);
    uint8_t buffer[4] = {9, 9, 9, 9};
    uint32_t count = 77;
    EXPECT_EQ(nullptr, window.Read(buffer, 4, &count));
    EXPECT_EQ(9, buffer[0]);
    EXPECT_EQ(77u, count);
    EXPECT_EQ(nullptr, window.Write(buffer, 4, &count));
    EXPECT_EQ(Bytes(100), base.data);
}

TEST(WindowFile, AStartPastTheBaseGivesAnEmptyWindow) {
    MemoryFile base(Bytes(100));
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

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "payload/PackIndex.h"

namespace {

// Front-codes sorted names with 8 data bytes each (the ordinal, twice).
std::vector<uint8_t> FrontCode(const std::vector<std::string>& names) {
    std::vector<uint8_t> d;
    std::string previous;
    for (uint32_t k = 0; k < names.size(); ++k) {
        const std::string& name = names[k];
        size_t p = 0;
        while (p < previous.size() && p < name.size() && previous[p] == name[p]) ++p;
        d.push_back(uint8_t(name.size()));
        d.push_back(uint8_t(p));
        d.insert(d.end(), name.begin() + long(p), name.end());
        for (int twice = 0; twice < 2; ++twice)
            for (int i = 0; i < 4; ++i) d.push_back(uint8_t(k >> (8 * i)));
        previous = name;
    }
    return d;
}

CPackIndex* MakeIndex(const std::vector<uint8_t>& directory, uint16_t interval, uint32_t count = 0) {
    TableHandle block = HandleAlloc(uint32_t(directory.size()));
    EXPECT_NE(0u, block);
    std::memcpy(HandleLock(block), directory.data(), directory.size());
    HandleUnlock(block);
    return CPackIndex::Create(8, block, uint32_t(directory.size()), count, interval);
}

std::vector<std::string> ManyNames(size_t n) {
    std::mt19937 rng(7);
    std::vector<std::string> names;
    const char* const dirs[] = {"FILES\\", "FILES\\DATA\\", "FILES\\MAPS\\", "", "FILES\\DATA\\SUB\\"};
    while (names.size() < n) {
        std::string name = dirs[rng() % 5];
        for (size_t len = 1 + rng() % 10; len; --len) name += char('A' + rng() % 6);
        name += ".DAT";
        names.push_back(name);
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
    }
    return names;
}

struct Plain {
    std::vector<std::string> names;
    bool Exact(const std::string& key, uint32_t* ordinal) const {
        auto it = std::lower_bound(names.begin(), names.end(), key);
        if (it == names.end() || *it != key) return false;
        *ordinal = uint32_t(it - names.begin());
        return true;
    }
    bool Prefix(const std::string& key, std::string* name, uint32_t* ordinal) const {
        auto it = std::lower_bound(names.begin(), names.end(), key);
        if (it == names.end() || it->compare(0, key.size(), key) != 0) return false;
        *name = *it;
        *ordinal = uint32_t(it - names.begin());
        return true;
    }
};

void ExpectSameAnswers(CPackIndex& index, const Plain& plain, const std::vector<std::string>& keys) {
    char found[CPackIndex::kNameBuffer];
    for (const std::string& key : keys) {
        uint8_t data[8] = {};
        uint32_t expected = 0, ordinal = 0;
        bool exact = plain.Exact(key, &expected);
        ASSERT_EQ(exact, index.ExactLookup(key.c_str(), data)) << key;
        if (exact) {
            uint32_t got;
            std::memcpy(&got, data, 4);
            EXPECT_EQ(expected, got) << key;
        }
        std::string name;
        bool prefix = plain.Prefix(key, &name, &expected);
        ASSERT_EQ(prefix, index.PrefixSearch(key.c_str(), found, &ordinal)) << key;
        if (prefix) {
            EXPECT_EQ(name, found) << key;
            EXPECT_EQ(expected, ordinal) << key;
        }
        bool hasNext = exact && expected + 1 < plain.names.size();
        ASSERT_EQ(hasNext, index.Successor(key.c_str(), found)) << key;
        if (hasNext) {
            EXPECT_EQ(plain.names[expected + 1], found) << key;
        }
    }
}

TEST(PackIndex, AnswersLikeAPlainSearchWithAndWithoutSamples) {
    Plain plain{ManyNames(250)};
    std::vector<std::string> keys = {""};
    std::mt19937 rng(3);
    for (const std::string& name : plain.names) {
        keys.push_back(name);
        keys.push_back(name.substr(0, rng() % (name.size() + 1)));
        keys.push_back(name + "X");
        std::string changed = name;
        changed[rng() % changed.size()] ^= 1;
        keys.push_back(changed);
    }
    keys.push_back("\x7F\x7F");
    keys.push_back("0");
    auto directory = FrontCode(plain.names);
    CPackIndex* sampled = MakeIndex(directory, 100, 250);
    CPackIndex* unsampled = MakeIndex(directory, 0);
    ASSERT_TRUE(sampled && unsampled);
    EXPECT_EQ(2u, sampled->SampleCount());  // entries 0 and 100; not 200
    EXPECT_EQ(0u, unsampled->SampleCount());
    EXPECT_EQ(250u, unsampled->EntryCount());  // counted from the directory
    ExpectSameAnswers(*sampled, plain, keys);
    ExpectSameAnswers(*unsampled, plain, keys);
    char first[CPackIndex::kNameBuffer];
    ASSERT_TRUE(sampled->Successor(nullptr, first));
    EXPECT_EQ(plain.names[0], first);
    delete sampled;
    delete unsampled;
}

TEST(PackIndex, SmallDirectoryAnswers) {
    CPackIndex* index = MakeIndex(FrontCode({"FILES\\A.DLL", "FILES\\B\\C.INI", "PATCH.INI"}), 100);
    ASSERT_TRUE(index);
    char name[CPackIndex::kNameBuffer];
    ASSERT_TRUE(index->PrefixSearch("FILES\\B\\", name, nullptr));
    EXPECT_STREQ("FILES\\B\\C.INI", name);
    ASSERT_TRUE(index->PrefixSearch("FILES\\", name, nullptr));
    EXPECT_STREQ("FILES\\A.DLL", name);
    EXPECT_FALSE(index->PrefixSearch("FILES\\C", name, nullptr));
    ASSERT_TRUE(index->PrefixSearch("", name, nullptr));
    EXPECT_STREQ("FILES\\A.DLL", name);
    EXPECT_FALSE(index->ExactLookup("FILES\\B", nullptr));
    uint8_t data[8];
    EXPECT_TRUE(index->ExactLookup("FILES\\B\\C.INI", data));
    EXPECT_EQ(1, data[0]);
    EXPECT_FALSE(index->Successor("PATCH.INI", name));
    EXPECT_FALSE(index->Successor("NOT.THERE", name));
    delete index;
}

TEST(PackIndex, LongNamesUpTo255Bytes) {
    std::string n200(200, 'L'), n255(255, 'M');
    CPackIndex* index = MakeIndex(FrontCode({"A", n200, n255}), 100);
    char name[CPackIndex::kNameBuffer];
    EXPECT_TRUE(index->ExactLookup(n200.c_str(), nullptr));
    EXPECT_TRUE(index->ExactLookup(n255.c_str(), nullptr));
    ASSERT_TRUE(index->Successor(n200.c_str(), name));
    EXPECT_EQ(n255, name);
    std::string n256(256, 'M');
    EXPECT_FALSE(index->ExactLookup(n256.c_str(), nullptr));
    EXPECT_FALSE(index->PrefixSearch(n256.c_str(), name, nullptr));
    EXPECT_FALSE(index->Successor(n256.c_str(), name));
    delete index;
}

TEST(PackIndex, MalformedDirectoriesEndBeforeTheBadEntry) {
    const auto good = FrontCode({"AA", "AB", "B"});  // entries of 12, 11, 11 bytes
    auto check = [](std::vector<uint8_t> directory, uint32_t expectedEntries) {
        CPackIndex* index = MakeIndex(directory, 1);
        ASSERT_TRUE(index);
        EXPECT_EQ(expectedEntries, index->EntryCount());
        char name[CPackIndex::kNameBuffer];
        // Every answer stays within the sound entries.
        for (const char* key : {"", "A", "AA", "AB", "B", "C"}) {
            index->ExactLookup(key, nullptr);
            index->PrefixSearch(key, name, nullptr);
            index->Successor(key, name);
        }
        delete index;
    };
    check(good, 3);
    auto cut = good;
    cut.resize(good.size() - 3);  // the last entry's data runs past the used size
    check(cut, 2);
    auto longName = good;
    longName[12] = 200;  // second entry's L runs far past the directory
    check(longName, 1);
    auto sharedTooMuch = good;
    sharedTooMuch[24] = 1;  // "B" claims to share a byte with "AB" and stores nothing
    check(sharedTooMuch, 2);
    auto moreThanPrevious = good;
    moreThanPrevious[13] = 3;  // P = 3 > previous name's length 2 (and > L)
    check(moreThanPrevious, 1);
    auto firstShares = good;
    firstShares[1] = 1;
    check(firstShares, 0);
    auto outOfOrder = FrontCode({"B", "A"});
    check(outOfOrder, 1);
    auto duplicate = FrontCode({"A", "A"});
    check(duplicate, 1);
    auto zeroLength = good;
    zeroLength[0] = 0;
    check(zeroLength, 0);
    check(std::vector<uint8_t>{5}, 0);  // a lone byte
    // A directory of 255-byte names: every expansion fits the name buffer.
    check(FrontCode({std::string(255, 'A'), std::string(254, 'A') + "B", std::string(255, 'B')}), 3);
}

TEST(PackIndex, NoDirectoryAnswersNotFound) {
    CPackIndex* index = CPackIndex::Create(8, 0, 0, 5, 100);
    ASSERT_TRUE(index);
    char name[CPackIndex::kNameBuffer];
    EXPECT_FALSE(index->ExactLookup("A", nullptr));
    EXPECT_FALSE(index->PrefixSearch("", name, nullptr));
    EXPECT_FALSE(index->Successor(nullptr, name));
    delete index;
}

TEST(PackIndex, DestroyReleasesTheDirectoryAndSamples) {
    const uint32_t before = HandleTableCount();
    delete MakeIndex(FrontCode(ManyNames(300)), 100);
    EXPECT_EQ(before, HandleTableCount());
}

}  // namespace

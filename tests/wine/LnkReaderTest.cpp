#include "LnkReader.h"

#include <gtest/gtest.h>

using namespace winebox;

namespace {

void Put(std::string& out, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(char(value >> (8 * i)));
}

void PutUnicode(std::string& out, const std::string& text) {
    Put(out, uint32_t(text.size()), 2);
    for (char c : text) Put(out, uint8_t(c), 2);
}

// A link with an ID list, LinkInfo, description, working directory and icon.
std::string SampleLink() {
    std::string link;
    Put(link, 0x4C, 4);
    Put(link, 0x00021401, 4);
    link.append("\0\0\0\0\xC0\0\0\0\0\0\0\x46", 12);
    Put(link, 0x01 | 0x02 | 0x04 | 0x10 | 0x40 | 0x80, 4);
    link.append(56 - link.size(), '\0');
    Put(link, 3, 4);  // icon index
    link.append(76 - link.size(), '\0');
    Put(link, 4, 2);
    link.append("\x02\0\0\0", 4);
    std::string target = "C:\\Games\\Quor\\zln\\zavovudiz.exe";
    Put(link, uint32_t(28 + target.size() + 2), 4);
    Put(link, 0x1C, 4);
    Put(link, 1, 4);
    Put(link, 0, 4);
    Put(link, 28, 4);
    Put(link, 0, 4);
    Put(link, uint32_t(28 + target.size() + 1), 4);
    link += target;
    link.append(2, '\0');
    PutUnicode(link, "Orvandel Gaming Service");
    PutUnicode(link, "C:\\Games\\Quor\\zln");
    PutUnicode(link, target);
    Put(link, 0, 4);
    return link;
}

}  // namespace

TEST(LnkReader, ReadsTheFieldsThePatchSets) {
    LnkFields fields;
    std::string error;
    ASSERT_TRUE(ReadLnk(SampleLink(), &fields, &error)) << error;
    EXPECT_EQ(fields.targetPath, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(fields.description, "Orvandel Gaming Service");
    EXPECT_EQ(fields.workingDirectory, "C:\\Games\\Quor\\zln");
    EXPECT_EQ(fields.iconLocation, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(fields.iconIndex, 3);
    EXPECT_TRUE(fields.relativePath.empty());
}

TEST(LnkReader, RefusesForeignAndCutFiles) {
    LnkFields fields;
    std::string error;
    EXPECT_FALSE(ReadLnk("not a link", &fields, &error));
    std::string link = SampleLink();
    for (size_t cut : {size_t(80), size_t(100), link.size() - 10}) {
        EXPECT_FALSE(ReadLnk(link.substr(0, cut), &fields, &error)) << cut;
        EXPECT_FALSE(error.empty());
    }
}

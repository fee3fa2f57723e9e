#include <gtest/gtest.h>

#include <string>

#include "MemoryFile.h"
#include "app/AppState.h"
#include "app/HashIni.h"
#include "app/Messages.h"

namespace {

class LookupTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string text = "[str]\r\nwelcome2 = Do it?|| Version %d.%02d | Folder %s\r\n";
        MemoryFile file(std::vector<uint8_t>(text.begin(), text.end()));
        ASSERT_EQ(table.LoadFile(&file), nullptr);
        g_Strings = &table;
    }
    void TearDown() override { g_Strings = nullptr; }

    CHashIni table{20, 500, new CSizedPtrPool(), true};
};

TEST_F(LookupTextTest, BarsBecomeLineFeeds) {
    EXPECT_STREQ(LookupText("WELCOME2"), "Do it?\n\n Version %d.%02d \n Folder %s");
}

TEST_F(LookupTextTest, MissingKeysAndTablesGiveEmptyTexts) {
    EXPECT_STREQ(LookupText("nothing"), "");
    g_Strings = nullptr;
    EXPECT_STREQ(LookupText("welcome2"), "");
}

}  // namespace

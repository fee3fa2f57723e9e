#include "PatchScenario.h"
#include "Transcript.h"
#include "RelayTrace.h"
#include "WineRun.h"
#include "WinePrefix.h"

#include <gtest/gtest.h>

using namespace winebox;

TEST(RelayTrace, ParsesCallEscapesAndPairsReturnsByThread) {
    const std::string trace =
        "00d0:trace:relay:load_list L\"RelayInclude\" = L\"user32.MessageBoxA\"\n"
        "00d0:Call user32.MessageBoxA(00000000,140004009 \"Hi \\\"box\\\"\\nC:\\\\x\\\\ \\xe9\",140004000 "
        "\"Cap\",00000044) ret=140001555\n"
        "00e4:Call user32.MessageBoxA(00000000,0041c0e0 \"\",00000000,00000025) ret=00401234\n"
        "00d0:Ret  user32.MessageBoxA() retval=00000006 ret=140001555\n"
        "00e4:Ret  user32.MessageBoxA() retval=00000005 ret=00401234\n";
    std::vector<BoxCall> boxes = ParseRelayTrace(trace);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Hi \"box\"\nC:\\x\\ \xe9");
    EXPECT_EQ(boxes[0].caption, "Cap");
    EXPECT_EQ(boxes[0].type, 0x44u);
    EXPECT_TRUE(boxes[0].returned);
    EXPECT_EQ(boxes[0].result, 6);
    EXPECT_FALSE(boxes[0].truncated);
    EXPECT_EQ(boxes[1].text, "");
    EXPECT_FALSE(boxes[1].textNull);
    EXPECT_TRUE(boxes[1].captionNull);
    EXPECT_EQ(boxes[1].type, 0x25u);
    EXPECT_EQ(boxes[1].result, 5);
}

TEST(RelayTrace, OpenCallsAndCutTextsAreVisible) {
    std::vector<BoxCall> boxes = ParseRelayTrace(
        "0024:Call user32.MessageBoxA(00000000,140007040 \"aaaa\"...,140004000 \"c\",00000000) ret=1\n");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].truncated);
    EXPECT_FALSE(boxes[0].returned);
    EXPECT_TRUE(ParseRelayTrace("0024:Call user32.MessageBoxA(00000000,1400 \"unterminated,1 \"c\",0)").empty());
}

// The trace is read while Wine writes it: a line not yet ended counts for
// nothing, however much of it reads like a call or a return.
TEST(RelayTrace, HalfWrittenLastLineCountsForNothing) {
    const std::string call = "0024:Call user32.MessageBoxA(00000000,1 \"t\",2 \"c\",00000044) ret=1\n";
    const std::string ret = "0024:Ret  user32.MessageBoxA() retval=00000006 ret=1\n";
    for (size_t cut = 0; cut < ret.size(); ++cut) {
        std::vector<BoxCall> boxes = ParseRelayTrace(call + ret.substr(0, cut));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_FALSE(boxes[0].returned) << "cut after " << cut << " bytes";
    }
    EXPECT_TRUE(ParseRelayTrace(call.substr(0, call.size() - 1)).empty());
    EXPECT_EQ(ParseRelayTrace(call + ret)[0].result, 6);
    const std::string dialog = "0024:Call user32.DialogBoxParamA(1,65,0,2,0) ret=1\n0024:Call user32.EndDialog(3,1) ret=1";
    EXPECT_FALSE(ParseDialogTrace(dialog).ended);
    EXPECT_TRUE(ParseDialogTrace(dialog + "\n").ended);
}

TEST(RelayTrace, DialogCallsGiveItsStateAndLastTexts) {
    const std::string trace =
        "0024:Call user32.MessageBoxA(00000000,140004009 \"welcome\",140004000 \"Cap\",00000044) ret=1\n"
        "0024:Ret  user32.MessageBoxA() retval=00000006 ret=1\n"
        "0024:Call user32.DialogBoxParamA(140000000,00000065,00000000,140001230,00000000) ret=1\n"
        "0024:Call user32.SetWindowTextA(000200a4,14000a000 \"QUOR \\\"Patch\\\"\") ret=1\n"
        "0024:Call user32.SetDlgItemTextA(000200a4,000003e8,14000a100 \"Updating\") ret=1\n"
        "0024:Call user32.SetDlgItemTextA(000200a4,000003e8,14000a100 \"Updating QUOR...\") ret=1\n";
    DialogTrace dialog = ParseDialogTrace(trace);
    EXPECT_TRUE(dialog.shown);
    EXPECT_FALSE(dialog.ended);
    EXPECT_EQ(dialog.caption, "QUOR \"Patch\"");
    ASSERT_EQ(dialog.items.size(), 1u);
    EXPECT_EQ(dialog.items[1000], "Updating QUOR...");
    EXPECT_TRUE(ParseDialogTrace(trace + "0030:Call user32.EndDialog(000200a4,00000001) ret=1\n").ended);
    EXPECT_FALSE(ParseDialogTrace("0024:Call user32.MessageBoxA(0,1 \"x\",2 \"y\",0) ret=1\n").shown);
}

TEST(RelayTrace, AnswerWordsMatchTheButtonIdentifiers) {
    EXPECT_EQ(ButtonForAnswer("ok"), 1);
    EXPECT_EQ(ButtonForAnswer("abort"), 3);
    EXPECT_EQ(ButtonForAnswer("no"), 7);
    EXPECT_EQ(ButtonForAnswer("maybe"), 0);
    EXPECT_EQ(AnswerForButton(4), "retry");
    EXPECT_EQ(KeyForButton(5), "i");
    EXPECT_EQ(ExactNamePattern("QUOR Patch (1.05)"), "^QUOR Patch \\(1\\.05\\)$");
}

TEST(SystemHive, FindsValuesOfAKeyInAnyLetterCase) {
    TempDir dir("hive");
    WriteText(dir.Path("system.reg"),
              "WINE REGISTRY Version 2\n\n[Software\\\\Orvandel\\\\Quor] 1796756541\n#time=1dd87\n"
              "\"GameVersion\"=dword:00010005\n\"Path\"=\"C:\\\\Games\\\\Quor\\\\\"\n\n"
              "[Software\\\\Other] 1\n\"GameVersion\"=dword:00000001\n");
    SystemHive hive;
    ASSERT_TRUE(hive.Load(dir.Path("system.reg")));
    EXPECT_EQ(hive.Dword("SOFTWARE\\Orvandel\\Quor", "gameversion"), 0x10005u);
    EXPECT_EQ(hive.RawValue("software\\orvandel\\quor", "Path"), "\"C:\\\\Games\\\\Quor\\\\\"");
    EXPECT_FALSE(hive.Dword("SOFTWARE\\Orvandel\\Quor", "Language"));
    EXPECT_TRUE(hive.HasKey("SOFTWARE\\Other"));
    EXPECT_FALSE(hive.HasKey("SOFTWARE\\Orvandel"));
}

// A box seen in the trace is written as the host layer's transcript writes
// it: the ANSI code page's bytes 0x80-0x9F are its characters (the euro
// sign), read back to the same bytes; the five it leaves unassigned are
// escaped control characters.
TEST(TranscriptLine, TakesTextsInTheAnsiCodePage) {
    const std::string line = TranscriptLine("QUOR \x80", "a\x81\x9f\n", 0x44, "yes");
    EXPECT_EQ(line, "{\"call\":\"MessageBoxA\",\"caption\":\"QUOR \xe2\x82\xac\",\"text\":\"a\\u0081\xc5\xb8\\n\","
                    "\"type\":68,\"answer\":\"yes\"}");
    const TranscriptRecord record = transcript_detail::ParseLine(line);
    EXPECT_EQ(record.caption, "QUOR \x80");
    EXPECT_EQ(record.text, "a\x81\x9f\n");
}

// Message boxes in a process of their own (tests/hostbin/w32_message_box):
// the transcript, scripted answers, the default button, and the visible end
// of a script that runs out or names a button the box lacks.
#include "ChildProcess.h"
#include "TempDir.h"
#include "Transcript.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

class MessageBoxTest : public ::testing::Test {
protected:
    // Runs the boxes (type, caption, text triples) with the given answer
    // script (nullptr: none) and returns the printed ids; the exit code goes
    // to *exitCode.
    std::string Run(const std::vector<std::string>& boxes, const char* answers, int* exitCode)
    {
        ChildProcess child(W32_MESSAGE_BOX, boxes,
                           {{"W32_TRANSCRIPT", transcript_.c_str()}, {"W32_ANSWERS", answers}});
        child.CloseStdin();
        const std::string output = child.ReadAll();
        *exitCode = child.Wait();
        return output;
    }

    TempDir dir_;
    std::string transcript_ = dir_.Path("transcript.jsonl");
};

TEST_F(MessageBoxTest, ScriptedAnswersAreUsedInOrderAndRecorded)
{
    int exitCode = -1;
    const std::string ids =
        Run({"0x44", "QUOR Patch", "Upgrade?|| line \"two\"\n", "0x22", "Error", "Error while trying to copy A\\B", "0",
             "QUOR Patch", "done"},
            " YES ,retry,ok", &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(ids, "6\n4\n1\n");
    const auto records = ReadTranscript(transcript_);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].call, "MessageBoxA");
    EXPECT_EQ(records[0].caption, "QUOR Patch");
    EXPECT_EQ(records[0].text, "Upgrade?|| line \"two\"\n");
    EXPECT_EQ(records[0].type, 0x44);
    EXPECT_EQ(records[0].answer, "yes");
    EXPECT_EQ(records[1].text, "Error while trying to copy A\\B");
    EXPECT_EQ(records[1].answer, "retry");
    EXPECT_EQ(records[2].answer, "ok");
}

TEST_F(MessageBoxTest, WithoutScriptOrTerminalTheDefaultButtonAnswers)
{
    int exitCode = -1;
    // MB_YESNO: Yes; MB_YESNOCANCEL|MB_DEFBUTTON3: Cancel; MB_OKCANCEL|MB_DEFBUTTON4 (past the last): OK.
    EXPECT_EQ(Run({"4", "c", "t", "0x203", "c", "t", "0x301", "c", "t"}, nullptr, &exitCode), "6\n2\n1\n");
    EXPECT_EQ(exitCode, 0);
    const auto records = ReadTranscript(transcript_);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].answer, "cancel");
}

TEST_F(MessageBoxTest, AScriptThatRunsOutEndsTheProcessWithCode70)
{
    int exitCode = -1;
    EXPECT_EQ(Run({"4", "c", "first", "4", "c", "second"}, "no", &exitCode), "7\n");
    EXPECT_EQ(exitCode, 70);
    const auto records = ReadTranscript(transcript_);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].text, "second");
    EXPECT_EQ(records[1].answer, "");

    // An empty script allows no box at all.
    EXPECT_EQ(Run({"0", "c", "t"}, "", &exitCode), "");
    EXPECT_EQ(exitCode, 70);
}

TEST_F(MessageBoxTest, AnAnswerTheBoxDoesNotOfferIsAnError)
{
    int exitCode = -1;
    EXPECT_EQ(Run({"2", "Error", "copy failed"}, "yes", &exitCode), "");
    EXPECT_EQ(exitCode, 70);
    EXPECT_EQ(Run({"0", "c", "t"}, "maybe", &exitCode), "");
    EXPECT_EQ(exitCode, 70);
}

TEST(MessageBox, AnInvalidTypeOrOwnerShowsNothing)
{
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", 7), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(&errno), "t", "c", MB_OK), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

} // namespace

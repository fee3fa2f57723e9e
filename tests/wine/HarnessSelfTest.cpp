// The harness proves itself on a small probe program before the patcher is
// tested with it: answers reach the right box, texts and types come back
// exactly, the registry lands in system.reg and the exit code survives.
#include "WineRun.h"
#include "WineTest.h"

#include <sys/stat.h>

using namespace winebox;

class HarnessProbe : public WineTest {
protected:
    HarnessProbe() : WineTest({"QP_WINE_PROBE"}) {}

    RunOutcome RunProbe(std::vector<std::string> answers) {
        // Wine runs programs from its own drives: put the probe on drive C:.
        std::string dir = Prefix().DriveC() + "/probe";
        mkdir(dir.c_str(), 0755);
        WriteText(dir + "/probe.exe", ReadText(Input("QP_WINE_PROBE")));
        RunRequest request;
        request.program = dir + "/probe.exe";
        request.answers = std::move(answers);
        RunOutcome outcome = RunWithAnswers(Prefix(), request);
        Prefix().WaitForServer(30);
        return outcome;
    }
};

TEST_F(HarnessProbe, AnswersBoxesAndReadsThemBack) {
    RunOutcome outcome = RunProbe({"no", "ok"});
    ASSERT_TRUE(outcome.error.empty()) << outcome.error << "\n" << outcome.trace;
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 47);
    ASSERT_EQ(outcome.boxes.size(), 2u);
    EXPECT_EQ(outcome.boxes[0].caption, "Harness Probe");
    EXPECT_EQ(outcome.boxes[0].text, "Probe \"question\"\nC:\\Games\\Quor\\ 100%");
    EXPECT_EQ(outcome.boxes[0].type, 0x44u);
    EXPECT_EQ(outcome.boxes[0].result, 7);
    // A program started the usual way sees its own path in double quotes.
    EXPECT_EQ(outcome.boxes[1].text, "\"C:\\probe\\probe.exe\"");
    EXPECT_EQ(outcome.boxes[1].type, 0u);

    SystemHive hive;
    ASSERT_TRUE(hive.Load(Prefix().Path() + "/system.reg"));
    EXPECT_EQ(hive.Dword("SOFTWARE\\QuorPatchHarness", "Answer"), 7u);
}

TEST_F(HarnessProbe, RunningOutOfAnswersFailsInsteadOfHanging) {
    RunOutcome outcome = RunProbe({"yes"});
    EXPECT_NE(outcome.error.find("no scripted answer left"), std::string::npos) << outcome.error;
    ASSERT_EQ(outcome.boxes.size(), 2u);
    EXPECT_EQ(outcome.boxes[0].result, 6);
    SystemHive hive;
    ASSERT_TRUE(hive.Load(Prefix().Path() + "/system.reg"));
    EXPECT_EQ(hive.Dword("SOFTWARE\\QuorPatchHarness", "Answer"), 6u);
}

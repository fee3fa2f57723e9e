// The child processes every test starts, without Wine: what the harness
// relies on (deadlines that end a whole process group, output of both
// streams in one file) and what the Linux tests rely on (pipes, the
// environment, the exit code of a killed child).
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

// True once the process is gone or a zombie.
bool Ended(int pid)
{
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

TEST(ChildProcess, CommandOutputOfBothStreamsAndItsExitCode)
{
    const CommandResult run = RunCommand({"sh", "-c", "echo out; echo err >&2; echo \"$QP_CHILD_SAYS\"; exit 3"},
                                         {"QP_CHILD_SAYS=said"}, 30);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.output, "out\nerr\nsaid\n");

    const CommandResult missing = RunCommand({"/nonexistent/program"}, {}, 30);
    EXPECT_TRUE(missing.finished);
    EXPECT_EQ(missing.exitCode, 127);
}

TEST(ChildProcess, DeadlineEndsWhatTheCommandStartedToo)
{
    const CommandResult run = RunCommand({"sh", "-c", "sleep 60 & echo $!; wait"}, {}, 0.5);
    EXPECT_FALSE(run.finished);
    const int grandchild = std::atoi(run.output.c_str());
    ASSERT_GT(grandchild, 0) << run.output;
    EXPECT_TRUE(Ended(grandchild));
}

TEST(ChildProcess, EnvironmentEntriesAreReplacedOrRemoved)
{
    setenv("QP_CHILD_REPLACED", "ours", 1);
    setenv("QP_CHILD_REMOVED", "ours", 1);
    ChildProcess child("/bin/sh", {"-c", "echo \"$QP_CHILD_REPLACED|${QP_CHILD_REMOVED-none}\""},
                       {{"QP_CHILD_REPLACED", "theirs"}, {"QP_CHILD_REMOVED", nullptr}});
    child.CloseStdin();
    EXPECT_EQ(child.ReadAll(), "theirs|none\n");
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_FALSE(child.Running());
    EXPECT_EQ(child.Wait(), 0) << "a second wait returns the same code";
}

TEST(ChildProcess, ClosingInputEndsAChildWhileAnotherRuns)
{
    ChildProcess reader("/bin/cat", {});
    ChildProcess other("/bin/sleep", {"60"});
    reader.CloseStdin();
    int code = -1;
    EXPECT_TRUE(reader.WaitFor(10, &code)) << "another child holds the pipe open";
    EXPECT_EQ(code, 0);
    other.Kill();
    EXPECT_EQ(other.Wait(), 128 + SIGKILL);
}

TEST(ChildProcess, UnwritableOutputFailsTheStart)
{
    TempDir dir("child");
    SpawnOptions options;
    options.stdoutPath = dir.Path("missing/out");
    ChildProcess child;
    std::string error;
    EXPECT_FALSE(child.Start({"true"}, options, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(child.Running());
    EXPECT_THROW(ChildProcess("/bin/true", {}, {}, dir.Path("missing/err")), std::runtime_error);
}

// Child processes for the Wine harness: start with extra environment and
// redirected output, poll, wait with a deadline, kill. Every wait is bounded
// so that a stuck Wine program fails a test instead of hanging the suite.
#pragma once

#include <string>
#include <vector>

namespace winebox {

struct SpawnOptions {
    std::vector<std::string> env;  // "NAME=value" entries added to (or replacing in) ours
    std::string stdoutPath;        // empty: /dev/null
    std::string stderrPath;        // empty: /dev/null
    std::string workDir;           // empty: ours
};

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool Start(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error);
    // True once the child has ended; its exit status (or 128 + signal) goes to *exitCode.
    bool Poll(int* exitCode);
    // Waits at most the given time; false if the child is still running.
    bool WaitFor(double seconds, int* exitCode);
    // Kills the whole process group and reaps the child.
    void Kill();
    bool Running() const { return pid_ > 0; }
    int Pid() const { return pid_; }

private:
    int pid_ = -1;
};

struct CommandResult {
    bool finished = false;  // false: killed at the deadline
    int exitCode = -1;
    std::string output;     // stdout and stderr together
};

// Runs a command to its end or to the deadline and collects its output.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double seconds);

std::string MakeTempDir(const std::string& stem);
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
void RemoveTree(const std::string& path);

}  // namespace winebox

// Child processes for the tests (POSIX hosts). A test starts a program of
// this build behind the run prefix (RunPrefix.h) with its standard input and
// output as pipes; the Wine harness starts any command with its output in
// files, in a process group of its own, and waits with deadlines so that a
// stuck program fails a test instead of hanging the suite. The environment
// is the test's own with the given entries replaced or removed.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "RunPrefix.h"
#include "TempDir.h"

extern char** environ;

struct SpawnOptions {
    std::vector<std::string> env;    // "NAME=value" entries added to (or replacing in) ours
    std::vector<std::string> unset;  // names removed from ours
    // Standard input and output as pipes of the test (ReadLine, CloseStdin);
    // else standard input is /dev/null and the output goes to stdoutPath.
    bool pipes = false;
    std::string stdoutPath;  // without pipes; empty: /dev/null
    std::string stderrPath;  // empty: the test's own standard error; the same path as stdoutPath: one file
    std::string workDir;     // empty: ours
    // A process group of its own: Kill then also ends what the child started.
    bool ownProcessGroup = false;
};

class ChildProcess {
public:
    ChildProcess() = default;
    // Starts a program of this build (behind the run prefix) with pipes for
    // its standard input and output; environment entries of value nullptr
    // are removed; a non-empty stderrPath receives standard error
    // (truncated). Throws when it cannot start.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, const char*>& environment = {}, const std::string& stderrPath = {})
    {
        SpawnOptions options;
        options.pipes = true;
        options.stderrPath = stderrPath;
        for (const auto& [name, value] : environment) {
            if (value != nullptr)
                options.env.push_back(name + "=" + value);
            else
                options.unset.push_back(name);
        }
        std::string error;
        if (!Start(PrefixedCommand(program, args), options, &error))
            throw std::runtime_error(error);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess()
    {
        CloseStdin();
        Kill();
        if (stdout_ >= 0)
            close(stdout_);
    }

    // Starts argv as it is (found on PATH when it names no folder).
    bool Start(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error)
    {
        if (pid_ > 0 || argv.empty())
            return Failed(error, argv.empty() ? "nothing to start" : "a child is running already");
        std::vector<std::string> env = MergedEnvironment(options);
        std::vector<std::string> args = argv;
        std::vector<char*> cargs = CStrings(args), cenv = CStrings(env);
        // Every descriptor is close-on-exec, so that no other child keeps a
        // pipe of this one open (its end of file would never come).
        int in[2] = {-1, -1}, out[2] = {-1, -1};
        if (options.pipes) {
            if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
                CloseAll({in[0], in[1]});
                return Failed(error, std::string("pipe: ") + std::strerror(errno));
            }
        } else {
            in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
            out[1] = OpenOutput(options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath);
        }
        int err = -1;
        if (!options.stderrPath.empty())
            err = !options.pipes && options.stderrPath == options.stdoutPath ? out[1] : OpenOutput(options.stderrPath);
        if (in[0] < 0 || out[1] < 0 || (!options.stderrPath.empty() && err < 0)) {
            const std::string reason = std::strerror(errno);
            CloseAll({in[0], in[1], out[0], out[1], err == out[1] ? -1 : err});
            return Failed(error, "cannot open the child's input or output (" + reason + ")");
        }

        const pid_t pid = fork();
        if (pid == 0) {
            if (options.ownProcessGroup)
                setpgid(0, 0);
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            if (err >= 0)
                dup2(err, STDERR_FILENO);
            if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
                _exit(126);
            execvpe(cargs[0], cargs.data(), cenv.data());
            _exit(127);
        }
        const int forkErrno = errno;
        CloseAll({in[0], out[1], err == out[1] ? -1 : err});
        if (pid < 0) {
            CloseAll({in[1], out[0]});
            return Failed(error, std::string("fork: ") + std::strerror(forkErrno));
        }
        if (options.ownProcessGroup)
            setpgid(pid, pid);  // also here: Kill may come before the child has run
        pid_ = pid;
        group_ = options.ownProcessGroup;
        stdin_ = in[1];
        stdout_ = out[0];
        return true;
    }

    // The next line of output without its line feed; false at the end.
    bool ReadLine(std::string* line)
    {
        line->clear();
        char c;
        for (;;) {
            const ssize_t n = stdout_ < 0 ? 0 : read(stdout_, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return !line->empty();
            if (c == '\n')
                return true;
            *line += c;
        }
    }
    // All remaining output.
    std::string ReadAll()
    {
        std::string all, line;
        while (ReadLine(&line))
            all += line + "\n";
        return all;
    }
    void CloseStdin()
    {
        if (stdin_ >= 0)
            close(stdin_);
        stdin_ = -1;
    }

    // True once the child has ended; its exit code (see Wait) goes to *exitCode.
    bool Poll(int* exitCode)
    {
        if (pid_ > 0) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == 0)
                return false;
            Reaped(r == pid_ ? status : -1);
        }
        if (exitCode != nullptr)
            *exitCode = exitCode_;
        return true;
    }
    // Waits at most the given time; false if the child is still running.
    bool WaitFor(double seconds, int* exitCode)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!Poll(exitCode)) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // The exit code, or 128 + the signal number when it was killed; -1 when
    // it cannot be known.
    int Wait()
    {
        if (pid_ > 0) {
            int status = 0;
            pid_t r;
            while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
            }
            Reaped(r == pid_ ? status : -1);
        }
        return exitCode_;
    }
    // Kills the child (and its process group when it has one) and reaps it.
    void Kill()
    {
        if (pid_ <= 0)
            return;
        if (group_)
            kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        Wait();
    }
    bool Running() const { return pid_ > 0; }
    int Pid() const { return pid_; }

private:
    static bool Failed(std::string* error, const std::string& reason)
    {
        if (error != nullptr)
            *error = reason;
        return false;
    }
    static int OpenOutput(const std::string& path)
    {
        return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    static void CloseAll(std::initializer_list<int> fds)
    {
        for (int fd : fds)
            if (fd >= 0)
                close(fd);
    }
    static std::vector<std::string> MergedEnvironment(const SpawnOptions& options)
    {
        std::vector<std::string> merged;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string prefix = entry.substr(0, entry.find('=') + 1);
            bool keep = true;
            for (const std::string& x : options.env)
                keep = keep && x.compare(0, prefix.size(), prefix) != 0;
            for (const std::string& name : options.unset)
                keep = keep && prefix != name + "=";
            if (keep)
                merged.push_back(entry);
        }
        merged.insert(merged.end(), options.env.begin(), options.env.end());
        return merged;
    }
    static std::vector<char*> CStrings(std::vector<std::string>& strings)
    {
        std::vector<char*> out;
        for (std::string& s : strings)
            out.push_back(&s[0]);
        out.push_back(nullptr);
        return out;
    }
    void Reaped(int status)
    {
        exitCode_ = status < 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        pid_ = -1;
    }

    pid_t pid_ = -1;
    bool group_ = false;
    int exitCode_ = -1;
    int stdin_ = -1, stdout_ = -1;
};

struct CommandResult {
    bool finished = false;  // false: killed at the deadline
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

// Runs a command (as it is, see Start) to its end or to the deadline, in a
// process group of its own, and collects its output.
inline CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                                double seconds)
{
    CommandResult result;
    TempDir dir("cmd");
    SpawnOptions options;
    options.env = env;
    options.stdoutPath = dir.Path("output");
    options.stderrPath = options.stdoutPath;
    options.ownProcessGroup = true;
    ChildProcess child;
    if (!child.Start(argv, options, &result.output))
        return result;
    result.finished = child.WaitFor(seconds, &result.exitCode);
    if (!result.finished)
        child.Kill();
    result.output = ReadText(options.stdoutPath);
    return result;
}

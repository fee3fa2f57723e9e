// Runs a program of this build as a child process for tests (POSIX hosts),
// behind the run prefix (RunPrefix.h): its standard input and output are
// pipes, standard error is the test's own or a file, the environment is the
// test's own plus the given overrides, and the exit status is collected by
// Wait.
#pragma once

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "RunPrefix.h"

extern char** environ;

class ChildProcess {
public:
    // Starts program with args; environment entries of value nullptr are
    // removed; a non-empty stderrPath receives standard error (truncated).
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, const char*>& environment = {}, const std::string& stderrPath = {})
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        int err = -1;
        if (!stderrPath.empty() && (err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
            throw std::runtime_error("cannot create " + stderrPath);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (environment.count(entry.substr(0, entry.find('='))) == 0)
                env.push_back(entry);
        }
        for (const auto& [name, value] : environment)
            if (value != nullptr)
                env.push_back(name + "=" + value);
        std::vector<std::string> command = PrefixedCommand(program, args);
        std::vector<char*> argv;
        for (std::string& word : command)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(&entry[0]);
        envp.push_back(nullptr);

        pid_ = fork();
        if (pid_ < 0) {
            if (err >= 0)
                close(err);
            throw std::runtime_error("fork failed");
        }
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            if (err >= 0)
                dup2(err, STDERR_FILENO);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        if (err >= 0)
            close(err);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess()
    {
        CloseStdin();
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0)
            close(stdout_);
    }

    // The next line of output without its line feed; false at the end.
    bool ReadLine(std::string* line)
    {
        line->clear();
        char c;
        for (;;) {
            const ssize_t n = read(stdout_, &c, 1);
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
    void Kill() { kill(pid_, SIGKILL); }
    // The exit code, or 128 + the signal number when it was killed.
    int Wait()
    {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1;
    bool waited_ = false;
};

#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace winebox {
namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            if (x.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        if (!replaced) merged.push_back(entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(&s[0]);
    out.push_back(nullptr);
    return out;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0) Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const SpawnOptions& options,
                         std::string* error) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(options.env);
    std::vector<char*> cargs = CStrings(args);
    std::vector<char*> cenv = CStrings(env);
    std::string out = options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath;
    std::string err = options.stderrPath.empty() ? "/dev/null" : options.stderrPath;

    pid_t pid = fork();
    if (pid < 0) {
        if (error) *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        // Own process group, so that Kill also reaches what the child starts.
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = err == out ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0) _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
        execvpe(cargs[0], cargs.data(), cenv.data());
        _exit(127);
    }
    setpgid(pid, pid);
    pid_ = pid;
    return true;
}

bool ChildProcess::Poll(int* exitCode) {
    if (pid_ <= 0) return true;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return false;
    if (exitCode) *exitCode = r == pid_ ? DecodeStatus(status) : -1;
    pid_ = -1;
    return true;
}

bool ChildProcess::WaitFor(double seconds, int* exitCode) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Poll(exitCode)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void ChildProcess::Kill() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double seconds) {
    CommandResult result;
    std::string dir = MakeTempDir("qpcmd");
    SpawnOptions options;
    options.env = env;
    options.stdoutPath = dir + "/output";
    options.stderrPath = options.stdoutPath;
    ChildProcess child;
    std::string error;
    if (!child.Start(argv, options, &error)) {
        result.output = error;
    } else {
        result.finished = child.WaitFor(seconds, &result.exitCode);
        if (!result.finished) child.Kill();
        result.output = ReadWholeFile(options.stdoutPath);
    }
    RemoveTree(dir);
    return result;
}

std::string MakeTempDir(const std::string& stem) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + stem + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) return std::string();
    return std::string(buffer.data());
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return bool(out);
}

void RemoveTree(const std::string& path) {
    if (path.empty() || path == "/") return;
    nftw(path.c_str(),
         [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

}  // namespace winebox

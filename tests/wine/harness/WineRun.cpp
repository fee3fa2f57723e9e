#include "WineRun.h"

#include <chrono>
#include <sstream>
#include <thread>

namespace winebox {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

double SecondsLeft(Clock::time_point deadline) {
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}

std::string Describe(const BoxCall& box) {
    return "box \"" + box.caption + "\": \"" + box.text + "\"";
}

// Presses the button of the index-th box; true once the trace shows it returned.
bool PressButton(const WinePrefix& prefix, const std::string& tracePath, size_t index,
                 const std::string& answer, Clock::time_point deadline, ChildProcess& child,
                 RunOutcome& outcome) {
    std::string* error = &outcome.error;
    int button = ButtonForAnswer(answer);
    if (!button) {
        *error = "unknown scripted answer \"" + answer + "\"";
        return false;
    }
    std::vector<BoxCall> boxes = ParseRelayTrace(ReadWholeFile(tracePath));
    const std::string pattern = ExactNamePattern(boxes[index].caption);
    std::vector<std::string> env = prefix.Environment(false);
    for (int attempt = 0; SecondsLeft(deadline) > 0; ++attempt) {
        CommandResult found =
            RunCommand({"xdotool", "search", "--onlyvisible", "--name", pattern}, env, 5);
        std::vector<std::string> windows = Lines(found.output);
        if (!windows.empty()) {
            // Newest window last; a retry tries the others in turn.
            const std::string& window = windows[windows.size() - 1 - size_t(attempt) % windows.size()];
            RunCommand({"xdotool", "windowfocus", "--sync", window}, env, 3);
            RunCommand({"xdotool", "key", "--clearmodifiers", KeyForButton(button)}, env, 3);
        }
        for (int wait = 0; wait < 20 && SecondsLeft(deadline) > 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            boxes = ParseRelayTrace(ReadWholeFile(tracePath));
            if (boxes[index].returned) {
                if (boxes[index].result == button) return true;
                *error = Describe(boxes[index]) + " returned " + AnswerForButton(boxes[index].result) +
                         ", not " + answer;
                return false;
            }
            if (child.Poll(&outcome.exitCode)) {
                outcome.finished = true;
                *error = Describe(boxes[index]) + ": program ended while it was up";
                return false;
            }
        }
    }
    *error = Describe(boxes[index]) + ": no answer registered in time";
    return false;
}

}  // namespace

std::string ExactNamePattern(const std::string& name) {
    std::string pattern = "^";
    for (char c : name) {
        if (std::string(".[]{}()\\*+?^$|").find(c) != std::string::npos) pattern.push_back('\\');
        pattern.push_back(c);
    }
    return pattern + "$";
}

std::string KeyForButton(int button) {
    switch (button) {
    case 1: return "Return";
    case 2: return "Escape";
    case 3: return "a";
    case 4: return "r";
    case 5: return "i";
    case 6: return "y";
    case 7: return "n";
    default: return "Return";
    }
}

RunOutcome RunWithAnswers(const WinePrefix& prefix, const RunRequest& request) {
    RunOutcome outcome;
    std::string scratch = MakeTempDir("qpwinerun");
    std::string tracePath = scratch + "/relay.log";
    SpawnOptions options;
    options.env = prefix.Environment(true);
    options.stderrPath = tracePath;
    options.stdoutPath = scratch + "/stdout.log";
    options.workDir = request.workDir.empty()
                          ? request.program.substr(0, request.program.rfind('/') + 1)
                          : request.workDir;
    ChildProcess child;
    if (!child.Start({prefix.Loader(), request.program}, options, &outcome.error)) {
        RemoveTree(scratch);
        return outcome;
    }
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(request.timeoutSeconds));
    size_t answered = 0;
    for (;;) {
        if (child.Poll(&outcome.exitCode)) {
            outcome.finished = true;
            break;
        }
        if (SecondsLeft(deadline) <= 0) {
            outcome.error = "timed out after " + std::to_string(int(request.timeoutSeconds)) + " s";
            break;
        }
        std::vector<BoxCall> boxes = ParseRelayTrace(ReadWholeFile(tracePath));
        while (answered < boxes.size() && boxes[answered].returned) ++answered;  // e.g. a box that failed
        if (answered < boxes.size()) {
            if (answered >= request.answers.size()) {
                outcome.error = Describe(boxes[answered]) + " came with no scripted answer left";
                break;
            }
            Clock::time_point boxDeadline =
                std::min(deadline, Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(request.boxSeconds)));
            if (!PressButton(prefix, tracePath, answered, request.answers[answered], boxDeadline, child,
                             outcome))
                break;
            ++answered;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!outcome.finished && child.Running()) {
        // The program may have ended while the last box was being answered.
        outcome.finished = child.WaitFor(0.5, &outcome.exitCode);
        if (!outcome.finished) {
            child.Kill();
            prefix.KillServer();
        }
    }
    outcome.trace = ReadWholeFile(tracePath);
    outcome.boxes = ParseRelayTrace(outcome.trace);
    RemoveTree(scratch);
    return outcome;
}

}  // namespace winebox

#include "env_faults.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "win32/errors.h"
#include "power_cut.h"
#include "win32/hostio.h"

namespace w32 {
namespace {

struct Rule {
    std::string substring;
    uint64_t number = 0;   // bytes (write) or error number (open)
    DWORD error = 0;       // write: the error of the failing WriteFile
    long remaining = -1;   // hits left; -1 for unlimited
    uint64_t skip = 0;     // matches let through before the first hit
    bool kill = false;     // move or flush: "kill" in place of the error number
};

struct Faults {
    bool loaded = false;
    bool hasWrite = false;
    Rule write;
    std::vector<Rule> open, kill, move, flush;  // rules of one variable, separated by ';'
    std::vector<Rule> registry;                 // the rule's "substring" is the call: "open" or "set"
    long threadFailures = 0;  // CreateThread calls still to fail
    long threadSkip = 0;      // CreateThread calls let through before them
    long dialogFailures = 0;  // DialogBoxParamA calls still to fail
    DWORD mutexError = 0;     // every named CreateMutexA fails with it
};

std::mutex& FaultLock() {
    static std::mutex lock;
    return lock;
}

Faults& State() {
    static Faults faults;
    return faults;
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) return parts;
        start = colon + 1;
    }
}

bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    *value = parsed;
    return true;
}

// A malformed variable is a broken test setup: say so and stop rather than
// run the test without its fault.
[[noreturn]] void Malformed(const char* name, const char* value) {
    std::fprintf(stderr, "win32 host layer: malformed %s=\"%s\"\n", name, value);
    std::exit(70);
}

bool ParseTimes(const std::vector<std::string>& parts, size_t at, long* remaining) {
    if (parts.size() <= at) return true;
    uint64_t times;
    if (!ParseNumber(parts[at], &times)) return false;
    *remaining = long(times);
    return true;
}

// The rules "<substring>:<number>[:<times>[:<skip>]]", separated by ';', of the
// variable name; none when it is not set. The number (bytes, or a Win32
// error) may be 0 only where zeroAllowed, and the word "kill" only where
// killAllowed.
std::vector<Rule> LoadPathRules(const char* name, bool zeroAllowed, bool killAllowed = false) {
    std::vector<Rule> rules;
    const char* value = std::getenv(name);
    if (!value || !*value) return rules;
    const std::string text = value;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> parts = SplitColons(text.substr(start, end - start));
        Rule rule;
        rule.kill = killAllowed && parts.size() >= 2 && parts[1] == "kill";
        if (parts.size() < 2 || parts.size() > 4 || parts[0].empty() ||
            (!rule.kill && !ParseNumber(parts[1], &rule.number)) ||
            (!zeroAllowed && !rule.kill && rule.number == 0) || !ParseTimes(parts, 2, &rule.remaining) ||
            (parts.size() == 4 && !ParseNumber(parts[3], &rule.skip)))
            Malformed(name, value);
        rule.substring = parts[0];
        rules.push_back(rule);
        start = end + 1;
    }
    return rules;
}

// A variable holding one number above 0 (times, or a Win32 error); 0 when
// it is not set.
long LoadCount(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return 0;
    uint64_t number = 0;
    if (!ParseNumber(value, &number) || number == 0 || number > 0x7FFFFFFF) Malformed(name, value);
    return long(number);
}

void Load(Faults& faults) {
    faults.loaded = true;
    faults.open = LoadPathRules("W32_FAULT_OPEN", false);
    if (const char* value = std::getenv("W32_FAULT_WRITE"); value && *value) {
        std::vector<std::string> parts = SplitColons(value);
        Rule& rule = faults.write;
        if (parts.size() < 3 || parts.size() > 4 || parts[0].empty() || !ParseNumber(parts[1], &rule.number) ||
            (parts[2] != "full" && parts[2] != "fail") || !ParseTimes(parts, 3, &rule.remaining))
            Malformed("W32_FAULT_WRITE", value);
        rule.substring = parts[0];
        rule.error = parts[2] == "full" ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
        faults.hasWrite = true;
    }
    faults.kill = LoadPathRules("W32_FAULT_KILL", true);
    faults.move = LoadPathRules("W32_FAULT_MOVE", false, true);
    faults.flush = LoadPathRules("W32_FAULT_FLUSH", false, true);
    if (const char* value = std::getenv("W32_FAULT_THREAD"); value && *value) {
        // "<times>[:<skip>]"
        std::vector<std::string> parts = SplitColons(value);
        uint64_t times = 0;
        uint64_t skip = 0;
        if (parts.size() > 2 || !ParseNumber(parts[0], &times) || times == 0 || times > 0x7FFFFFFF ||
            (parts.size() == 2 && (!ParseNumber(parts[1], &skip) || skip > 0x7FFFFFFF)))
            Malformed("W32_FAULT_THREAD", value);
        faults.threadFailures = long(times);
        faults.threadSkip = long(skip);
    }
    faults.dialogFailures = LoadCount("W32_FAULT_DIALOG");
    faults.mutexError = DWORD(LoadCount("W32_FAULT_MUTEX"));
    faults.registry = LoadPathRules("W32_FAULT_REGISTRY", false);
    for (const Rule& rule : faults.registry)
        if (rule.substring != "open" && rule.substring != "set")
            Malformed("W32_FAULT_REGISTRY", std::getenv("W32_FAULT_REGISTRY"));
}

// True when rule applies to hostPath, counting the hit.
bool Hit(Rule& rule, const std::string& hostPath) {
    if (hostPath.find(rule.substring) == std::string::npos || rule.remaining == 0) return false;
    if (rule.skip > 0) {
        --rule.skip;
        return false;
    }
    if (rule.remaining > 0) --rule.remaining;
    return true;
}

// The first of rules that applies to hostPath, its hit counted; null for none.
Rule* FirstHit(std::vector<Rule>& rules, const std::string& hostPath) {
    for (Rule& rule : rules)
        if (Hit(rule, hostPath)) return &rule;
    return nullptr;
}

}  // namespace

void ReloadEnvironmentFaults() {
    {
        std::lock_guard<std::mutex> guard(FaultLock());
        State() = Faults{};
    }
    ReloadPowerModel();
}

namespace {

// The error of the rule that hostPath hits, or 0; *kill tells a kill rule.
DWORD TakeErrorFault(std::vector<Rule> Faults::*rules, const std::string& hostPath, bool* kill = nullptr) {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    Rule* hit = FirstHit(faults.*rules, hostPath);
    if (kill) *kill = hit && hit->kill;
    return hit && !hit->kill ? DWORD(hit->number) : 0;
}

}  // namespace

DWORD TakeOpenFault(const std::string& hostPath) { return TakeErrorFault(&Faults::open, hostPath); }

WriteFault TakeWriteFault(const std::string& hostPath) {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    WriteFault fault;
    if (Rule* kill = FirstHit(faults.kill, hostPath)) {
        fault.active = true;
        fault.kill = true;
        fault.budget = kill->number;
        fault.error = ERROR_WRITE_FAULT;
        return fault;
    }
    if (!faults.hasWrite || !Hit(faults.write, hostPath)) return fault;
    fault.active = true;
    fault.budget = faults.write.number;
    fault.error = faults.write.error;
    return fault;
}

DWORD TakeMoveFault(const std::string& hostPath) {
    bool kill = false;
    DWORD error = TakeErrorFault(&Faults::move, hostPath, &kill);
    if (kill) KillProcessNow();
    return error;
}

DWORD TakeFlushFault(const std::string& hostPath, bool* killAfter) {
    return TakeErrorFault(&Faults::flush, hostPath, killAfter);
}

namespace {

// Whether a call counted down by the given field is to fail, counting it.
bool TakeCountedFault(long Faults::*remaining) {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    if (faults.*remaining == 0) return false;
    --(faults.*remaining);
    return true;
}

}  // namespace

bool TakeThreadFault() {
    {
        std::lock_guard<std::mutex> guard(FaultLock());
        Faults& faults = State();
        if (!faults.loaded) Load(faults);
        if (faults.threadSkip > 0) {
            --faults.threadSkip;
            return false;
        }
    }
    return TakeCountedFault(&Faults::threadFailures);
}

bool TakeDialogFault() { return TakeCountedFault(&Faults::dialogFailures); }

DWORD TakeMutexFault() {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    return faults.mutexError;
}

DWORD TakeRegistryFault(const char* call) {
    return TakeErrorFault(&Faults::registry, call);
}

void KillProcessNow() {
    std::raise(SIGKILL);
    std::_Exit(137);  // not reached
}

}  // namespace w32

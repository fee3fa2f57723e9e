#include "env_faults.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "win32/errors.h"
#include "win32/hostio.h"

namespace w32 {
namespace {

struct Rule {
    std::string substring;
    uint64_t number = 0;   // bytes (write) or error number (open)
    DWORD error = 0;       // write: the error of the failing WriteFile
    long remaining = -1;   // hits left; -1 for unlimited
};

struct Faults {
    bool loaded = false;
    bool hasOpen = false, hasWrite = false, hasKill = false, hasMove = false, hasFlush = false, hasRegistry = false;
    Rule open, write, kill, move, flush, registry;  // registry: the rule's "substring" is the call
    long threadFailures = 0;  // CreateThread calls still to fail
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

// A rule "<substring>:<number>[:<times>]" from the variable name; false when
// it is not set. The number (bytes, or a Win32 error) may be 0 only where
// zeroAllowed.
bool LoadPathRule(const char* name, bool zeroAllowed, Rule* rule) {
    const char* value = std::getenv(name);
    if (!value || !*value) return false;
    std::vector<std::string> parts = SplitColons(value);
    if (parts.size() < 2 || parts.size() > 3 || parts[0].empty() || !ParseNumber(parts[1], &rule->number) ||
        (!zeroAllowed && rule->number == 0) || !ParseTimes(parts, 2, &rule->remaining))
        Malformed(name, value);
    rule->substring = parts[0];
    return true;
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
    faults.hasOpen = LoadPathRule("W32_FAULT_OPEN", false, &faults.open);
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
    faults.hasKill = LoadPathRule("W32_FAULT_KILL", true, &faults.kill);
    faults.hasMove = LoadPathRule("W32_FAULT_MOVE", false, &faults.move);
    faults.hasFlush = LoadPathRule("W32_FAULT_FLUSH", false, &faults.flush);
    faults.threadFailures = LoadCount("W32_FAULT_THREAD");
    faults.dialogFailures = LoadCount("W32_FAULT_DIALOG");
    faults.mutexError = DWORD(LoadCount("W32_FAULT_MUTEX"));
    faults.hasRegistry = LoadPathRule("W32_FAULT_REGISTRY", false, &faults.registry);
    if (faults.hasRegistry && faults.registry.substring != "open" && faults.registry.substring != "set")
        Malformed("W32_FAULT_REGISTRY", std::getenv("W32_FAULT_REGISTRY"));
}

// True when rule applies to hostPath, counting the hit.
bool Hit(Rule& rule, const std::string& hostPath) {
    if (hostPath.find(rule.substring) == std::string::npos || rule.remaining == 0) return false;
    if (rule.remaining > 0) --rule.remaining;
    return true;
}

}  // namespace

void ReloadEnvironmentFaults() {
    std::lock_guard<std::mutex> guard(FaultLock());
    State() = Faults{};
}

namespace {

// The error of the rule that hostPath hits, or 0.
DWORD TakeErrorFault(bool Faults::*has, Rule Faults::*rule, const std::string& hostPath) {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    if (!(faults.*has) || !Hit(faults.*rule, hostPath)) return 0;
    return DWORD((faults.*rule).number);
}

}  // namespace

DWORD TakeOpenFault(const std::string& hostPath) { return TakeErrorFault(&Faults::hasOpen, &Faults::open, hostPath); }

WriteFault TakeWriteFault(const std::string& hostPath) {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    WriteFault fault;
    if (faults.hasKill && Hit(faults.kill, hostPath)) {
        fault.active = true;
        fault.kill = true;
        fault.budget = faults.kill.number;
        fault.error = ERROR_WRITE_FAULT;
        return fault;
    }
    if (!faults.hasWrite || !Hit(faults.write, hostPath)) return fault;
    fault.active = true;
    fault.budget = faults.write.number;
    fault.error = faults.write.error;
    return fault;
}

DWORD TakeMoveFault(const std::string& hostPath) { return TakeErrorFault(&Faults::hasMove, &Faults::move, hostPath); }

DWORD TakeFlushFault(const std::string& hostPath) {
    return TakeErrorFault(&Faults::hasFlush, &Faults::flush, hostPath);
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

bool TakeThreadFault() { return TakeCountedFault(&Faults::threadFailures); }

bool TakeDialogFault() { return TakeCountedFault(&Faults::dialogFailures); }

DWORD TakeMutexFault() {
    std::lock_guard<std::mutex> guard(FaultLock());
    Faults& faults = State();
    if (!faults.loaded) Load(faults);
    return faults.mutexError;
}

DWORD TakeRegistryFault(const char* call) {
    return TakeErrorFault(&Faults::hasRegistry, &Faults::registry, call);
}

void KillProcessNow() {
    std::raise(SIGKILL);
    std::_Exit(137);  // not reached
}

}  // namespace w32

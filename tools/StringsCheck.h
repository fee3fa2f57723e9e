// Checks of a patch's strings file against what the patcher does with it:
// every key it reads present in section "str", the versions as it parses
// them, the texts it formats against the arguments it passes, texts cut by a
// ';' or by the 1023-character line rule, "lang" against what the language
// check compares, and the shortcut keys against the files. An error is a
// patch that would misbehave for every player; a warning a doubtful case.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct Finding {
    bool error = false;
    uint32_t line = 0; // 0: the file as a whole
    std::string key;   // empty when the finding is about no one key
    std::string text;
};

struct StringsCheckContext {
    // Every pack name the patch carries ("PATCH.INI", "FILES\\...").
    std::vector<std::string> packNames;
    // With a base installation: whether it holds the shortcut's target.
    std::optional<bool> baseHasShortcutTarget;
};

// The shortcut's target below the game folder, as a path below Files.
extern const char kShortcutTarget[]; // "zln\\zavovudiz.exe"

std::vector<Finding> CheckStrings(const std::vector<uint8_t>& bytes, const StringsCheckContext& context);

// Prints each finding as "<label>:<line>: error: ..." (or warning) to out;
// returns the number of errors.
size_t ReportFindings(const std::vector<Finding>& findings, const std::string& label, std::FILE* out);

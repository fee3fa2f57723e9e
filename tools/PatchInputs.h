// What a patch is made from, as qptool build and qptool check both take it:
// the input options, and the files the patch carries with every refusal of
// the build. check runs exactly this, so it refuses what build refuses.
#pragma once

#include "DeltaPlan.h"
#include "GameBase.h"
#include "PatchSources.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The input forms:
//   --from <folder with Patch.ini and Files>
//   --strings <Patch.ini> --files <folder>
//   --strings <Patch.ini> --base <old game folder> --from <new game folder>
//   --strings <Patch.ini> --base <version>=<folder> ... --from <new game folder> [--whole]
// and with --base, --keep <path> (repeatable): a file only the bases have that
// the patch leaves in place instead of removing it.
struct PatchInputs {
    std::string strings, files, from;
    std::vector<std::string> baseValues;
    std::vector<GameBase> bases;
    std::vector<std::string> keep;
    bool whole = false; // carry changed files whole, no deltas
};

// The usage text of the input forms.
extern const char kPatchInputsUsage[];

// Takes the input options out of args, leaving the others in order.
// ToolError when an option lacks its value.
PatchInputs TakePatchInputs(std::vector<std::string>* args);

// Checks the form and completes it: the bases parsed, Patch.ini and Files
// found in a --from folder, the files folder of a --base form the new game
// folder. ToolError naming what is wrong or missing.
void ResolvePatchInputs(PatchInputs* inputs);

struct GatheredPatch {
    std::vector<PatchSource> sources;       // by pack name; deltas from the scratch folder
    std::unique_ptr<ScratchFolder> scratch; // the deltas until they are in the patch
    std::string baseFolder;                 // where the shortcut's target is looked for ("" for none)
    bool deltaOnly = false;                 // some changed file is carried only as deltas
};

// Plans (printing the plan of a --base form to planOut) and collects the
// patch's files; with keepDeltas the deltas are kept for writing. ToolError
// on every refusal: names, links, letter case, conflicts between versions.
GatheredPatch GatherPatch(const PatchInputs& inputs, unsigned threads, bool keepDeltas, std::FILE* planOut);

// With versioned bases, for a patch some of whose changed files go only as
// deltas: 1 (and the error printed to out under label) when the strings
// file's version window admits a version without a base.
size_t CheckVersionWindow(const std::vector<uint8_t>& strings, const std::vector<GameBase>& bases, bool deltaOnly,
                          const std::string& label, std::FILE* out = stdout);

// The strings file's findings printed to out, and the version window as
// above: the number of errors.
size_t CheckGatheredStrings(const PatchInputs& inputs, const GatheredPatch& patch, std::FILE* out);

// What the inspection commands (list, extract, verify) read: a pack file, a
// container holding a pack or an HPFS pack, a patch executable (its payload
// found by the patcher's own scan), or an HPFS pack. Detection goes by the
// first bytes: the pack magic, "HPFS", "LZSS" with a plausible header; any
// other file is scanned as a patch executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class InputKind { Pack, Hpfs, Container, PatchExecutable };

struct InspectInput {
    InputKind kind = InputKind::Pack;
    std::vector<uint8_t> file;      // the whole input
    uint32_t containerOffset = 0;   // Container and PatchExecutable: where the container begins
    InputKind contents = InputKind::Pack;  // what the file or its container holds: Pack or Hpfs
};

// Reads and classifies the file; ToolError with one clear message when it
// cannot be read or is none of the four kinds.
InspectInput ReadInspectInput(const std::string& path);

// The container's decoded contents (through CLzssFile, as the patcher reads
// it), or the file itself for a bare pack or HPFS pack. ToolError when a
// block cannot be decoded.
std::vector<uint8_t> DecodedContents(const InspectInput& input);

// "pack file", "HPFS pack", "container", "patch executable".
const char* KindName(InputKind kind);
// One line saying what the input is and where its payload lies.
std::string DescribeInput(const InspectInput& input);

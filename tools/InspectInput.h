// What the inspection commands (list, extract, verify) read: a pack file, a
// container holding a pack or an HPFS pack, a patch executable (its payload
// found by the patcher's own scan, ending where the patcher's ends: at a
// certificate table that signing appended), or an HPFS pack. Detection goes
// by the first bytes: the pack magic, "HPFS", "LZSS" with a plausible
// header; any other file is scanned as a patch executable. A container is
// decoded by the patcher's strict pass, so memory and time follow the
// file's real size, whatever its header claims.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/PatchIntegrity.h"
#include "payload/SignedImage.h"

enum class InputKind { Pack, Hpfs, Container, PatchExecutable };

struct InspectInput {
    InputKind kind = InputKind::Pack;
    std::vector<uint8_t> file;      // the whole input
    // Container and PatchExecutable: the container's bytes [offset, end).
    uint32_t containerOffset = 0;
    uint32_t containerEnd = 0;
    bool isSigned = false;          // PatchExecutable: a certificate table ends the file
    CertificateTable certificate;
};

// Reads and classifies the file; ToolError with one clear message when it
// cannot be read or is none of the four kinds.
InspectInput ReadInspectInput(const std::string& path);
// The same for bytes already read; path names them in messages.
InspectInput ClassifyInspectInput(std::vector<uint8_t> file, const std::string& path);

// The container's decoded contents after the strict pass, or the file
// itself for a bare pack or HPFS pack. False with the first fault. With
// packSize, a pack's contents keep only its header, directory and date
// table (so that memory does not follow the pack's size), and *packSize
// receives the size of the whole.
bool DecodeContents(const InspectInput& input, std::vector<uint8_t>* contents, IntegrityFault* fault,
                    uint64_t* packSize = nullptr);
// As DecodeContents; a fault becomes a ToolError naming its offset.
std::vector<uint8_t> DecodedContents(const InspectInput& input);

// Pack or Hpfs, from the contents' first bytes; ToolError for anything else.
InputKind ContentsKind(const InspectInput& input, const std::vector<uint8_t>& contents);

// A fault as "block k: what" or "pack offset N: what", and its offset in the
// input file (in the pack image for a pack fault).
std::string DescribeFault(const InspectInput& input, const IntegrityFault& fault);
uint64_t FaultOffset(const InspectInput& input, const IntegrityFault& fault);

// The pack through the patcher's chain: a CLzssFile over the container's
// window (or the bare pack file), a CPackFS attached to it, the checksum
// check (the patcher's, then every byte decoded) and, for a patch, its
// strings file. Empty when sound, else the fault with its offset in *at;
// *checksum describes the entry.
std::string CheckAsThePatcherMounts(const InspectInput& input, std::string* checksum, uint64_t* at);

// "pack file", "HPFS pack", "container", "patch executable".
const char* KindName(InputKind kind);
// One line saying what the input is and where its payload lies.
std::string DescribeInput(const InspectInput& input, InputKind contents);

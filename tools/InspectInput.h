// What the inspection commands (list, extract, verify, check) read: a pack
// file, a container holding a pack or an HPFS pack, a patch executable (its
// payload found by the patcher's own scan, ending where the patcher's ends:
// at a certificate table that signing appended), or an HPFS pack. Detection
// goes by the first bytes: the pack magic, "HPFS", "LZSS" with a plausible
// header; any other file is scanned as a patch executable.
//
// The input is read where it is asked, never whole: the contents come
// through the patcher's own chain (a CLzssFile over a window of the file,
// a CPackFS attached to it), so memory stays a few megabytes up to the
// largest patch the format allows, whatever the headers claim.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PackDirectory.h"

#include "file/File.h"
#include "payload/PackFS.h"
#include "payload/PatchIntegrity.h"
#include "payload/SignedImage.h"

enum class InputKind { Pack, Hpfs, Container, PatchExecutable };

struct InspectInput {
    InputKind kind = InputKind::Pack;
    std::shared_ptr<CFile> file;    // the whole input, read where asked
    // Container and PatchExecutable: the container's bytes [offset, end).
    uint32_t containerOffset = 0;
    uint32_t containerEnd = 0;
    bool isSigned = false;          // PatchExecutable: a certificate table ends the file
    CertificateTable certificate;
};

// Opens and classifies the file; ToolError with one clear message when it
// cannot be read or is none of the four kinds.
InspectInput ReadInspectInput(const std::string& path);
// The same for a file already open; path names it in messages.
InspectInput ClassifyInspectInput(std::shared_ptr<CFile> file, const std::string& path);

// The container's strict pass (every block decoded once, nothing kept):
// true for a bare pack or HPFS pack, else false with the first fault.
bool WalkInputStrictly(const InspectInput& input, IntegrityFault* fault);
// As WalkInputStrictly; a fault becomes a ToolError naming its file offset.
void RequireSoundContainer(const InspectInput& input);

// The patcher's chain over the input: a CLzssFile over the container's
// window (the window over a bare pack or HPFS pack), and for a pack the
// CPackFS attached to it, which then owns the chain.
class InspectChain {
public:
    // ToolError when the container does not open.
    explicit InspectChain(const InspectInput& input);
    ~InspectChain();
    InspectChain(const InspectChain&) = delete;
    InspectChain& operator=(const InspectChain&) = delete;

    CFile* Image() const { return image_; }    // the pack's or HPFS pack's bytes
    CFile* Window() const { return window_; }  // the container's bytes; null for a bare input
    // Pack or Hpfs, from the image's first bytes; ToolError for anything else.
    InputKind ContentsKind() const { return contents_; }
    // The pack service over the image (Attach's error, once, otherwise null).
    ErrorCode AttachPack();
    CPackFS* Pack() { return &pack_; }

private:
    CFile* window_ = nullptr;
    CFile* image_ = nullptr;
    bool attached_ = false;
    InputKind contents_ = InputKind::Pack;
    CPackFS pack_;
};

// The whole image (an HPFS pack's tree is read from memory; a game's pack,
// not a patch).
std::vector<uint8_t> ReadWholeImage(CFile* image);

// A pack's directory read from its head (header, directory, date table)
// with every bound checked against the image's size; a fault names the
// pack offset.
PackFault ReadPackListing(CFile* image, std::vector<PackListEntry>* entries);
// As ReadPackListing; a fault becomes a ToolError naming its file offset.
std::vector<PackListEntry> RequirePackListing(const InspectInput& input, CFile* image);

// A fault as "block k: what" or "pack offset N: what", with the file
// offsets a checksum covers when it cannot tell the byte; and the file
// offset where it lies.
std::string DescribeFault(const InspectInput& input, const IntegrityFault& fault);
uint64_t FaultOffset(const InspectInput& input, const IntegrityFault& fault);
// Where a byte of the pack image lies in the input file: itself for a bare
// pack; in a container, the start of the stored block that holds it (the
// byte itself in a raw block).
uint64_t FileOffsetOfImage(const InspectInput& input, uint64_t imageOffset);

// The pack through the patcher's chain: a CLzssFile over the container's
// window (or the bare pack file), a CPackFS attached to it, the checksum
// check (the patcher's, then every byte decoded) and, for a patch, its
// strings file. Empty when sound, else the fault with its file offset in
// *at; *checksum describes the entry. A patch executable without the
// checksum entry is a fault: the patcher refuses it. A bare pack or a
// container (a game's pack, or a payload not yet laid out) may lack it.
std::string CheckAsThePatcherMounts(const InspectInput& input, std::string* checksum, uint64_t* at);

// "pack file", "HPFS pack", "container", "patch executable".
const char* KindName(InputKind kind);
// One line saying what the input is and where its payload lies.
std::string DescribeInput(const InspectInput& input, InputKind contents);

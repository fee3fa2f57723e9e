#include "InspectInput.h"
#include "Command.h"
#include "CrcLocate.h"
#include "PackDeltas.h"
#include "StreamFiles.h"

#include "framework/LittleEndian.h"
#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/PatchNames.h"
#include "payload/PackFormat.h"
#include "payload/PayloadScan.h"
#include "payload/SignedImage.h"

#include <cstring>
#include <memory>

namespace {

// The first bytes of a file: enough for every kind's magic and header.
constexpr uint32_t kHeadBytes = 18;

std::vector<uint8_t> FirstBytes(CFile* file) {
    const uint32_t size = file->GetSize();
    std::vector<uint8_t> head(size < kHeadBytes ? size : kHeadBytes);
    if (!head.empty() && ReadExactly(file, 0, head.data(), uint32_t(head.size()))) head.clear();
    return head;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const void* magic, size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// What a pack, HPFS pack or container image begins with; false for anything else.
bool ClassifyImage(const std::vector<uint8_t>& bytes, InputKind* kind) {
    if (StartsWith(bytes, kPackMagic, sizeof kPackMagic)) *kind = InputKind::Pack;
    else if (StartsWith(bytes, "HPFS", 4)) *kind = InputKind::Hpfs;
    else if (StartsWith(bytes, kLzssMagic, 4) && bytes.size() >= kLzssHeaderSize && LoadU32(bytes.data() + 8) != 0 &&
             LoadU32(bytes.data() + 8) <= kLzssMaxBlockSize)
        *kind = InputKind::Container;
    else return false;
    return true;
}

bool IsContainer(const InspectInput& input) {
    return input.kind == InputKind::Container || input.kind == InputKind::PatchExecutable;
}

std::string FaultText(const InspectInput& input, const IntegrityFault& fault) {
    return "the container at offset " + std::to_string(input.containerOffset) + " is damaged: fault at offset " +
           std::to_string(FaultOffset(input, fault)) + ": " + DescribeFault(input, fault);
}

}  // namespace

InspectChain::InspectChain(const InspectInput& input) {
    if (IsContainer(input)) {
        window_ = new CWindowFile(input.file.get(), input.containerOffset, input.containerEnd - input.containerOffset,
                                  false);
        auto* lzss = new CLzssFile(window_, true);
        if (!lzss->isOpen) {
            delete lzss;
            throw ToolError("the container at offset " + std::to_string(input.containerOffset) + " does not open");
        }
        image_ = lzss;
    } else {
        image_ = new CWindowFile(input.file.get(), 0, input.file->GetSize(), false);
        contents_ = input.kind;
        return;
    }
    if (!ClassifyImage(FirstBytes(image_), &contents_) || contents_ == InputKind::Container) {
        delete image_;
        throw ToolError("the container at offset " + std::to_string(input.containerOffset) +
                        " holds neither a pack file nor an HPFS pack");
    }
}

InspectChain::~InspectChain() {
    if (!attached_) delete image_;  // else the pack service owns it
}

ErrorCode InspectChain::AttachPack() {
    if (attached_) return nullptr;
    attached_ = true;
    return pack_.Attach(image_);
}

std::string CheckAsThePatcherMounts(const InspectInput& input, std::string* checksum, uint64_t* at) {
    InspectChain chain(input);
    CFile* image = chain.Image();
    if (ErrorCode error = chain.AttachPack()) {
        *at = FileOffsetOfImage(input, 0);
        return std::string("pack offset 0: the pack does not mount: ") + ErrorText(error);
    }
    CPackFS& pack = *chain.Pack();
    IntegrityFault fault;
    switch (CheckPatchChecksum(&pack, image, chain.Window(), &fault, nullptr, ChecksumDepth::kEveryByte)) {
    case PatchChecksum::kAbsent:
        if (input.kind == InputKind::PatchExecutable) {
            const uint32_t size = image->GetSize();
            *at = FileOffsetOfImage(input, size ? size - 1 : 0);
            return "pack offset " + std::to_string(size) +
                   ": the pack ends without a PATCH.CRC entry, and the patcher refuses a patch without one";
        }
        *checksum = "no checksum entry (a patch without one is refused)";
        break;
    case PatchChecksum::kBroken:
        *at = FaultOffset(input, fault);
        return DescribeFault(input, fault);
    case PatchChecksum::kSound: {
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> entry(pack.Open(kPatchCrcName, FM_READ, &error));
        uint8_t bytes[kPatchCrcStoredEntrySize] = {};
        PatchCrcEntry parsed;
        const uint32_t size = entry ? entry->GetSize() : 0;
        if (entry && size <= sizeof bytes) ReadExactly(entry.get(), 0, bytes, size);
        ParsePatchCrcEntry(bytes, size, &parsed);
        *checksum = "PATCH.CRC covers " + std::to_string(parsed.coveredSize) + " bytes, CRC-32 " + HexCrc(parsed.crc) +
                    " matches (version " + std::to_string(parsed.version) + ")";
        if (parsed.version == kPatchCrcStoredVersion && chain.Window())
            *checksum += "; its stored CRC " + HexCrc(parsed.storedCrc) + " and tail CRC " + HexCrc(parsed.tailCrc) +
                         " match too";
        break;
    }
    }
    if (input.kind == InputKind::PatchExecutable) {
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> strings(pack.Open(kPackStringsName, FM_READ, &error));
        if (strings) {
            // Read as the patcher's strings table reads it: every byte.
            uint8_t chunk[4096];
            for (uint32_t done = 0, size = strings->GetSize(); done < size && !error; done += sizeof chunk)
                error = ReadExactly(strings.get(), done, chunk, size - done < sizeof chunk ? size - done : sizeof chunk);
        }
        if (!strings || error) {
            const uint32_t entry = pack.GetFileOffset(kPackStringsName, nullptr);
            *at = FileOffsetOfImage(input, entry);
            return std::string("the patch's strings file PATCH.INI does not read: ") + ErrorText(error);
        }
    }
    return "";
}

const char* KindName(InputKind kind) {
    switch (kind) {
    case InputKind::Pack: return "pack file";
    case InputKind::Hpfs: return "HPFS pack";
    case InputKind::Container: return "container";
    case InputKind::PatchExecutable: return "patch executable";
    }
    return "?";
}

InspectInput ReadInspectInput(const std::string& path) {
    auto file = std::make_shared<CHostReadFile>(path);
    if (!file->isOpen) throw ToolError("cannot open " + path + " (or it is larger than 4 GiB)");
    return ClassifyInspectInput(file, path);
}

InspectInput ClassifyInspectInput(std::shared_ptr<CFile> file, const std::string& path) {
    InspectInput input;
    input.file = std::move(file);
    CFile* bytes = input.file.get();
    input.containerEnd = bytes->GetSize();
    if (!ClassifyImage(FirstBytes(bytes), &input.kind)) {
        // The patcher's own scan and window end: the same file positions, the same rules.
        if (!FindPayloadOffset(bytes, &input.containerOffset))
            throw ToolError(path + " is no pack file, container, HPFS pack or patch executable with a payload");
        input.kind = InputKind::PatchExecutable;
        input.containerEnd = PayloadEnd(bytes, input.containerOffset);
        input.isSigned = input.containerEnd != bytes->GetSize() && FindCertificateTable(bytes, &input.certificate);
    }
    return input;
}

bool WalkInputStrictly(const InspectInput& input, IntegrityFault* fault) {
    if (!IsContainer(input)) return true;
    CWindowFile window(input.file.get(), input.containerOffset, input.containerEnd - input.containerOffset, false);
    return WalkContainerStrictly(&window, nullptr, nullptr, fault);
}

void RequireSoundContainer(const InspectInput& input) {
    IntegrityFault fault;
    if (!WalkInputStrictly(input, &fault)) throw ToolError(FaultText(input, fault));
}

std::vector<uint8_t> ReadWholeImage(CFile* image) {
    std::vector<uint8_t> bytes(image->GetSize());
    if (!bytes.empty())
        if (ErrorCode error = ReadExactly(image, 0, bytes.data(), uint32_t(bytes.size())))
            throw ToolError(std::string("the contents do not read: ") + ErrorText(error));
    return bytes;
}

PackFault ReadPackListing(CFile* image, std::vector<PackListEntry>* entries) {
    const uint32_t size = image->GetSize();
    std::vector<uint8_t> head(size < kPackHeaderSize ? size : kPackHeaderSize);
    if (!head.empty() && ReadExactly(image, 0, head.data(), uint32_t(head.size())))
        return {"the pack's header does not read", 0};
    if (head.size() == kPackHeaderSize && std::memcmp(head.data(), kPackMagic, sizeof kPackMagic) == 0) {
        // Header, directory and date table, as far as the pack really reaches.
        const uint64_t wanted = kPackHeaderSize + uint64_t(LoadU32(head.data() + kPackDirectorySizeOffset)) +
                                4ull * LoadU32(head.data() + kPackCountOffset);
        head.resize(wanted < size ? size_t(wanted) : size);
        if (ReadExactly(image, kPackHeaderSize, head.data() + kPackHeaderSize, uint32_t(head.size() - kPackHeaderSize)))
            return {"the pack's directory does not read", kPackHeaderSize};
    }
    return ReadPackDirectory(head, entries, size);
}

std::vector<PackListEntry> RequirePackListing(const InspectInput& input, CFile* image) {
    std::vector<PackListEntry> entries;
    const PackFault fault = ReadPackListing(image, &entries);
    if (!fault.what.empty())
        throw ToolError("damaged pack: fault at offset " + std::to_string(FileOffsetOfImage(input, fault.offset)) +
                        ": pack offset " + std::to_string(fault.offset) + ": " + fault.what);
    return entries;
}

namespace {

// The stored block of a container input that holds the image's byte: its
// file offsets [*from, *to), whether it is raw, and the block size. False
// when the container's header or table does not read.
bool StoredBlock(const InspectInput& input, uint64_t imageOffset, uint64_t* from, uint64_t* to, bool* raw,
                 uint32_t* blockSize) {
    CFile* file = input.file.get();
    const uint32_t start = input.containerOffset, containerSize = input.containerEnd - start;
    uint8_t header[kLzssHeaderSize], entry[4];
    if (ReadExactly(file, start, header, sizeof header)) return false;
    const uint32_t size = LoadU32(header + 4);
    *blockSize = LoadU32(header + 8);
    if (*blockSize == 0) return false;
    const uint32_t count = LzssBlockCount(size, *blockSize);
    const uint64_t k = imageOffset / *blockSize;
    if (k >= count) {
        *from = *to = input.containerEnd;
        *raw = false;
        return true;
    }
    // Table entries k and k + 1 (the last block runs to the container's end).
    uint32_t bounds[2] = {0, containerSize};
    for (uint32_t i = 0; i < 2 && k + i < count; ++i) {
        const uint64_t at = kLzssTableOffset + 4 * (k + i);
        if (at + 4 > containerSize || ReadExactly(file, uint32_t(start + at), entry, 4)) return false;
        bounds[i] = LoadU32(entry);
    }
    if (bounds[0] > containerSize) bounds[0] = containerSize;
    if (bounds[1] > containerSize || bounds[1] < bounds[0]) bounds[1] = bounds[0];
    *from = uint64_t(start) + bounds[0];
    *to = uint64_t(start) + bounds[1];
    *raw = bounds[1] - bounds[0] >= LzssBlockLength(size, *blockSize, uint32_t(k));
    return true;
}

// The file offset just behind the stored bytes that hold the image's byte.
uint64_t FileEndOfImage(const InspectInput& input, uint64_t imageOffset) {
    if (!IsContainer(input)) return imageOffset + 1;
    uint64_t from = 0, to = 0;
    bool raw = false;
    uint32_t blockSize = 0;
    if (!StoredBlock(input, imageOffset, &from, &to, &raw, &blockSize)) return input.containerEnd;
    return raw && from < to ? from + imageOffset % blockSize + 1 : to;
}

}  // namespace

uint64_t FileOffsetOfImage(const InspectInput& input, uint64_t imageOffset) {
    if (!IsContainer(input)) return imageOffset;
    uint64_t from = 0, to = 0;
    bool raw = false;
    uint32_t blockSize = 0;
    if (!StoredBlock(input, imageOffset, &from, &to, &raw, &blockSize)) return input.containerOffset;
    return from + (raw && from < to ? imageOffset % blockSize : 0);
}

namespace {

// Where one changed byte would explain a checksum that does not match: its
// file offset (for a pack checksum, that of the block that holds it, unless
// the block is raw) and for a pack checksum its pack offset. The stored CRC runs
// over the container's header, table entries 0 to k and blocks 0 to k - 1,
// where block k's stored bytes begin at the fault's end.
bool LocateChange(const InspectInput& input, const IntegrityFault& fault, uint64_t* fileOffset, uint64_t* packOffset,
                  bool* inBlock) {
    *inBlock = false;
    if (fault.syndrome == 0 || fault.end <= fault.offset) return false;
    uint64_t at = 0;
    if (fault.inPack) {
        if (!LocateOneChangedByte(fault.syndrome, fault.end - fault.offset, &at)) return false;
        *packOffset = fault.offset + at;
        *fileOffset = FileOffsetOfImage(input, *packOffset);
        *inBlock = IsContainer(input) && *fileOffset + 1 != FileEndOfImage(input, *packOffset);
        return true;
    }
    if (!IsContainer(input)) return false;
    CFile* file = input.file.get();
    uint8_t header[kLzssHeaderSize];
    if (ReadExactly(file, input.containerOffset, header, sizeof header) || LoadU32(header + 8) == 0) return false;
    const uint32_t count = LzssBlockCount(LoadU32(header + 4), LoadU32(header + 8));
    const uint64_t dataStart = LzssDataStart(count);
    if (dataStart > fault.end) return false;
    std::vector<uint8_t> table(4 * size_t(count));
    if (ReadExactly(file, input.containerOffset + kLzssTableOffset, table.data(), uint32_t(table.size()))) return false;
    uint32_t k = count;
    while (k > 0 && LoadU32(table.data() + 4 * (k - 1)) >= fault.end) --k;
    if (k == count || LoadU32(table.data() + 4 * k) != fault.end) return false;
    const uint64_t head = LzssDataStart(k + 1);  // the header and table entries 0 to k
    if (!LocateOneChangedByte(fault.syndrome, head + (fault.end - dataStart), &at)) return false;
    *packOffset = UINT64_MAX;
    *fileOffset = input.containerOffset + (at < head ? at : dataStart + (at - head));
    return true;
}

}  // namespace

uint64_t FaultOffset(const InspectInput& input, const IntegrityFault& fault) {
    uint64_t located = 0, packOffset = 0;
    bool inBlock = false;
    if (LocateChange(input, fault, &located, &packOffset, &inBlock)) return located;
    return fault.inPack ? FileOffsetOfImage(input, fault.offset) : uint64_t(input.containerOffset) + fault.offset;
}

std::string DescribeFault(const InspectInput& input, const IntegrityFault& fault) {
    std::string text = fault.inPack ? "pack offset " + std::to_string(fault.offset) + ": " : "";
    if (fault.block != kNoBlock) text += "block " + std::to_string(fault.block) + ": ";
    text += fault.what ? fault.what : "?";
    if (fault.end > fault.offset) {
        // A checksum covers a range and cannot tell which of its bytes differ.
        const uint64_t last = fault.inPack ? FileEndOfImage(input, fault.end - 1) - 1
                                           : uint64_t(input.containerOffset) + fault.end - 1;
        const uint64_t first = fault.inPack ? FileOffsetOfImage(input, fault.offset)
                                            : uint64_t(input.containerOffset) + fault.offset;
        text += " (the damage lies somewhere in file offsets " + std::to_string(first) + " to " + std::to_string(last);
        uint64_t located = 0, packOffset = 0;
        bool inBlock = false;
        const bool found = LocateChange(input, fault, &located, &packOffset, &inBlock);
        if (found && inBlock)
            text += "; of single changed bytes, only the one at pack offset " + std::to_string(packOffset) +
                    ", in the compressed block stored from file offset " + std::to_string(located) +
                    ", would explain it";
        else if (found)
            text += "; of single changed bytes, only the one at file offset " + std::to_string(located) +
                    (packOffset != UINT64_MAX ? " (pack offset " + std::to_string(packOffset) + ")" : "") +
                    " would explain it";
        text += ")";
    }
    return text;
}

std::string DescribeInput(const InspectInput& input, InputKind contents) {
    std::string line = KindName(input.kind);
    if (IsContainer(input))
        line += ", container at offset " + std::to_string(input.containerOffset) + " holding a " + KindName(contents);
    return line;
}

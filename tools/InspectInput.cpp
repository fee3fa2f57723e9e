#include "InspectInput.h"
#include "Command.h"
#include "PackDeltas.h"
#include "VectorFile.h"

#include "framework/LittleEndian.h"
#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/PackFS.h"
#include "payload/PatchNames.h"
#include "payload/PackFormat.h"
#include "payload/PayloadScan.h"
#include "payload/SignedImage.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, size_t offset, const void* magic, size_t length) {
    return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, magic, length) == 0;
}

// What a pack, HPFS pack or container image begins with; false for anything else.
bool ClassifyImage(const std::vector<uint8_t>& bytes, size_t offset, InputKind* kind) {
    if (StartsWith(bytes, offset, kPackMagic, sizeof kPackMagic)) *kind = InputKind::Pack;
    else if (StartsWith(bytes, offset, "HPFS", 4)) *kind = InputKind::Hpfs;
    else if (StartsWith(bytes, offset, kLzssMagic, 4) && bytes.size() >= offset + kLzssHeaderSize &&
             LoadU32(bytes.data() + offset + 8) != 0 && LoadU32(bytes.data() + offset + 8) <= kLzssMaxBlockSize)
        *kind = InputKind::Container;
    else return false;
    return true;
}

struct Collector {
    std::vector<uint8_t>* image;
    bool headOnly;
    uint64_t size = 0;
};

// How much of the contents a pack's directory needs; everything for any other image.
uint64_t HeadWanted(const std::vector<uint8_t>& image) {
    if (image.size() < kPackHeaderSize || std::memcmp(image.data(), kPackMagic, sizeof kPackMagic) != 0)
        return image.size() < kPackHeaderSize ? kPackHeaderSize : UINT64_MAX;
    return kPackHeaderSize + uint64_t(LoadU32(image.data() + kPackDirectorySizeOffset)) +
           4ull * LoadU32(image.data() + kPackCountOffset);
}

void Collect(void* context, uint32_t imageOffset, const uint8_t* bytes, uint32_t length) {
    auto* collector = static_cast<Collector*>(context);
    collector->size = uint64_t(imageOffset) + length;
    std::vector<uint8_t>* image = collector->image;
    if (collector->headOnly && image->size() >= HeadWanted(*image)) return;
    image->resize(imageOffset);  // blocks arrive in order; this only ever grows
    image->insert(image->end(), bytes, bytes + length);
}

}  // namespace

std::string CheckAsThePatcherMounts(const InspectInput& input, std::string* checksum, uint64_t* at) {
    CVectorFile disk;
    disk.data = input.file;
    CFile* window = nullptr;
    CFile* image = nullptr;
    if (input.kind == InputKind::Pack) {
        auto* bare = new CVectorFile();
        bare->data = input.file;
        image = bare;
    } else {
        window = new CWindowFile(&disk, input.containerOffset, input.containerEnd - input.containerOffset, false);
        auto* lzss = new CLzssFile(window, true);
        if (!lzss->isOpen) {
            delete lzss;
            *at = input.containerOffset;
            return "the container does not open";
        }
        image = lzss;
    }
    CPackFS pack;
    if (ErrorCode error = pack.Attach(image)) {
        *at = 0;
        return std::string("pack offset 0: the pack does not mount: ") + ErrorText(error);
    }
    IntegrityFault fault;
    switch (CheckPatchChecksum(&pack, image, window, &fault, nullptr, ChecksumDepth::kEveryByte)) {
    case PatchChecksum::kAbsent: *checksum = "no checksum entry (read as it is)"; break;
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
        if (parsed.version == kPatchCrcStoredVersion && window)
            *checksum += "; its stored CRC " + HexCrc(parsed.storedCrc) + " and tail CRC " + HexCrc(parsed.tailCrc) +
                         " match too";
        break;
    }
    }
    if (input.kind == InputKind::PatchExecutable) {
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> strings(pack.Open(kPackStringsName, FM_READ, &error));
        std::vector<uint8_t> bytes(strings ? strings->GetSize() : 0);
        if (strings && !bytes.empty()) error = ReadExactly(strings.get(), 0, bytes.data(), uint32_t(bytes.size()));
        if (!strings || error) {
            *at = 0;
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
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot open " + path);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError("cannot read " + path);
    return ClassifyInspectInput(std::move(file), path);
}

InspectInput ClassifyInspectInput(std::vector<uint8_t> file, const std::string& path) {
    InspectInput input;
    input.file = std::move(file);
    if (input.file.size() > 0xFFFFFFFFu) throw ToolError(path + " is larger than 4 GiB");
    input.containerEnd = uint32_t(input.file.size());

    if (!ClassifyImage(input.file, 0, &input.kind)) {
        // The patcher's own scan and window end: the same file positions, the same rules.
        CVectorFile scanned;
        scanned.data = input.file;
        if (!FindPayloadOffset(&scanned, &input.containerOffset))
            throw ToolError(path + " is no pack file, container, HPFS pack or patch executable with a payload");
        input.kind = InputKind::PatchExecutable;
        input.containerEnd = PayloadEnd(&scanned, input.containerOffset);
        input.isSigned = input.containerEnd != scanned.GetSize() && FindCertificateTable(&scanned, &input.certificate);
    }
    return input;
}

bool DecodeContents(const InspectInput& input, std::vector<uint8_t>* contents, IntegrityFault* fault,
                    uint64_t* packSize) {
    if (input.kind == InputKind::Pack || input.kind == InputKind::Hpfs) {
        *contents = input.file;
        if (packSize) *packSize = contents->size();
        return true;
    }
    CVectorFile disk;
    disk.data = input.file;
    CWindowFile window(&disk, input.containerOffset, input.containerEnd - input.containerOffset, false);
    contents->clear();
    Collector collector{contents, packSize != nullptr};
    const bool sound = WalkContainerStrictly(&window, Collect, &collector, fault);
    if (packSize) *packSize = collector.size;
    return sound;
}

uint64_t FaultOffset(const InspectInput& input, const IntegrityFault& fault) {
    return fault.inPack ? fault.offset : uint64_t(input.containerOffset) + fault.offset;
}

std::string DescribeFault(const InspectInput&, const IntegrityFault& fault) {
    std::string text = fault.inPack ? "pack offset " + std::to_string(fault.offset) + ": " : "";
    if (fault.block != kNoBlock) text += "block " + std::to_string(fault.block) + ": ";
    return text + (fault.what ? fault.what : "?");
}

std::vector<uint8_t> DecodedContents(const InspectInput& input) {
    std::vector<uint8_t> contents;
    IntegrityFault fault;
    if (!DecodeContents(input, &contents, &fault))
        throw ToolError("the container at offset " + std::to_string(input.containerOffset) +
                        " is damaged: fault at offset " + std::to_string(FaultOffset(input, fault)) + ": " +
                        DescribeFault(input, fault));
    return contents;
}

InputKind ContentsKind(const InspectInput& input, const std::vector<uint8_t>& contents) {
    if (input.kind == InputKind::Pack || input.kind == InputKind::Hpfs) return input.kind;
    InputKind inner;
    if (!ClassifyImage(contents, 0, &inner) || inner == InputKind::Container)
        throw ToolError("the container at offset " + std::to_string(input.containerOffset) +
                        " holds neither a pack file nor an HPFS pack");
    return inner;
}

std::string DescribeInput(const InspectInput& input, InputKind contents) {
    std::string line = KindName(input.kind);
    if (input.kind == InputKind::Container || input.kind == InputKind::PatchExecutable)
        line += ", container at offset " + std::to_string(input.containerOffset) + " holding a " + KindName(contents);
    return line;
}

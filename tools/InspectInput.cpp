#include "InspectInput.h"
#include "Command.h"
#include "VectorFile.h"

#ifdef QP_HAVE_APP_SCAN
#include "app/Payload.h"
#endif
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/PackFormat.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, size_t offset, const void* magic, size_t length) {
    return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, magic, length) == 0;
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

// What a pack, HPFS pack or container image begins with; false for anything else.
bool ClassifyImage(const std::vector<uint8_t>& bytes, size_t offset, InputKind* kind) {
    if (StartsWith(bytes, offset, kPackMagic, sizeof kPackMagic)) *kind = InputKind::Pack;
    else if (StartsWith(bytes, offset, "HPFS", 4)) *kind = InputKind::Hpfs;
    else if (StartsWith(bytes, offset, kLzssMagic, 4) && bytes.size() >= offset + kLzssHeaderSize &&
             Le32(bytes, offset + 8) != 0 && Le32(bytes, offset + 8) <= kLzssMaxBlockSize)
        *kind = InputKind::Container;
    else return false;
    return true;
}

// The container's bytes, from its offset to the end of the input.
std::unique_ptr<CLzssFile> OpenContainer(const InspectInput& input) {
    auto base = new CVectorFile();
    base->bytes.assign(input.file.begin() + input.containerOffset, input.file.end());
    auto container = std::make_unique<CLzssFile>(base, true);
    if (!container->isOpen)
        throw ToolError("the container at offset " + std::to_string(input.containerOffset) +
                        " is damaged (header or block table); qptool verify tells more");
    return container;
}

}  // namespace

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
    InspectInput input;
    input.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError("cannot read " + path);
    if (input.file.size() > 0xFFFFFFFFu) throw ToolError(path + " is larger than 4 GiB");

    if (!ClassifyImage(input.file, 0, &input.kind)) {
#ifdef QP_HAVE_APP_SCAN
        // The patcher's own scan: the same file positions, the same header test.
        CVectorFile scanned;
        scanned.bytes = input.file;
        if (!FindPayloadOffset(&scanned, &input.containerOffset))
            throw ToolError(path + " is no pack file, container, HPFS pack or patch executable with a payload");
        input.kind = InputKind::PatchExecutable;
#else
        throw ToolError(path + " is no pack file, container or HPFS pack (this build of the tool has no "
                               "patcher scan for patch executables)");
#endif
    }
    if (input.kind == InputKind::Pack || input.kind == InputKind::Hpfs) {
        input.contents = input.kind;
        return input;
    }
    // What the container holds: its first block tells.
    std::unique_ptr<CLzssFile> container = OpenContainer(input);
    std::vector<uint8_t> head(18);
    uint32_t got = 0;
    container->Read(head.data(), uint32_t(head.size()), &got);
    head.resize(got);
    InputKind inner;
    if (!ClassifyImage(head, 0, &inner) || inner == InputKind::Container)
        throw ToolError("the container at offset " + std::to_string(input.containerOffset) +
                        " holds neither a pack file nor an HPFS pack");
    input.contents = inner;
    return input;
}

std::vector<uint8_t> DecodedContents(const InspectInput& input) {
    if (input.kind == InputKind::Pack || input.kind == InputKind::Hpfs) return input.file;
    std::unique_ptr<CLzssFile> container = OpenContainer(input);
    std::vector<uint8_t> image(container->GetSize());
    uint32_t got = 0;
    ErrorCode error = container->Read(image.data(), uint32_t(image.size()), &got);
    if (error || got != image.size())
        throw ToolError("the container at offset " + std::to_string(input.containerOffset) +
                        " cannot be decoded (" + (error ? ErrorText(error) : std::string("short")) +
                        "); qptool verify finds the bad block");
    return image;
}

std::string DescribeInput(const InspectInput& input) {
    std::string line = KindName(input.kind);
    if (input.kind == InputKind::Container || input.kind == InputKind::PatchExecutable)
        line += ", container at offset " + std::to_string(input.containerOffset) + " holding a " +
                KindName(input.contents);
    return line;
}

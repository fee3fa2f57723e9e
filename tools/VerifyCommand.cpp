// qptool verify: decodes every block of the container (of a container file
// or a patch executable) on its own, then checks the pack inside it (or a
// bare pack file): its directory and that every entry's data lies inside the
// pack; an HPFS pack must attach and list. The first fault is reported with
// its offset in the input file (for the decoded pack: its pack offset), and
// the exit code is 1.
#include "Command.h"
#include "HpfsTree.h"
#include "InspectInput.h"
#include "PackDirectory.h"

#include "payload/LzssFormat.h"

#include <cstdio>

namespace {

uint32_t Le32(const std::vector<uint8_t>& bytes, uint64_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

int Faulty(const std::string& path, uint64_t offset, const std::string& what) {
    std::printf("%s: fault at offset %llu: %s\n", path.c_str(), static_cast<unsigned long long>(offset), what.c_str());
    return 1;
}

// Checks the header, the block table and every block; the decoded image, or
// a fault (what, offset in the input file).
bool DecodeEveryBlock(const InspectInput& input, std::vector<uint8_t>* image, std::string* what, uint64_t* at) {
    const std::vector<uint8_t>& file = input.file;
    const uint64_t base = input.containerOffset, end = file.size();
    auto fail = [&](uint64_t offset, const std::string& why) {
        *at = offset;
        *what = why;
        return false;
    };
    if (end - base < kLzssHeaderSize) return fail(base, "the container header is cut short");
    const uint32_t size = Le32(file, base + 4), blockSize = Le32(file, base + 8);
    const uint8_t bitLengths = file[base + 12];
    if (blockSize == 0 || blockSize > kLzssMaxBlockSize) return fail(base + 8, "bad block size " + std::to_string(blockSize));
    const uint32_t count = LzssBlockCount(size, blockSize);
    const uint64_t dataStart = base + LzssDataStart(count);
    if (dataStart > end) return fail(base + kLzssTableOffset, "the block table of " + std::to_string(count) + " blocks runs past the end");
    image->assign(size, 0);
    std::vector<uint8_t> block(blockSize);
    // Block k's stored bytes run from its table entry to the next one (the last to the end).
    for (uint32_t k = 0; k < count; ++k) {
        const uint64_t entry = base + kLzssTableOffset + 4ull * k;
        const uint64_t start = base + Le32(file, entry);
        const uint64_t stop = k + 1 < count ? base + Le32(file, entry + 4) : end;
        if (start < dataStart || start > stop || stop > end)
            return fail(entry, "block " + std::to_string(k) + " has a bad table entry");
        const uint32_t stored = uint32_t(stop - start), length = LzssBlockLength(size, blockSize, k);
        uint8_t* out = image->data() + uint64_t(k) * blockSize;
        if (stored >= length) {
            std::copy(file.begin() + start, file.begin() + start + length, out);
            continue;
        }
        uint32_t produced = blockSize;
        if (ErrorCode error = DecodeBlock(file.data() + start, stored, block.data(), &produced, bitLengths))
            return fail(start, "block " + std::to_string(k) + " does not decode: " + ErrorText(error));
        if (produced != length)
            return fail(start, "block " + std::to_string(k) + " decodes to " + std::to_string(produced) +
                                   " bytes, not " + std::to_string(length));
        std::copy(block.begin(), block.begin() + length, out);
    }
    return true;
}

int RunVerify(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ToolError("usage: qptool verify <file>");
    const std::string& path = args[0];
    const InspectInput input = ReadInspectInput(path);
    std::vector<uint8_t> contents = input.file;
    std::string summary;
    if (input.kind == InputKind::Container || input.kind == InputKind::PatchExecutable) {
        std::string what;
        uint64_t at = 0;
        if (!DecodeEveryBlock(input, &contents, &what, &at)) return Faulty(path, at, what);
        summary = "every block decodes, ";
    }
    if (input.contents == InputKind::Hpfs) {
        try {
            summary += std::to_string(ReadHpfsTree(contents, true).size()) + " HPFS items read";
        } catch (const ToolError& error) {
            return Faulty(path, 0, error.what());
        }
    } else {
        std::vector<PackListEntry> entries;
        const PackFault fault = ReadPackDirectory(contents, &entries);
        if (!fault.what.empty()) return Faulty(path, fault.offset, "pack offset " + std::to_string(fault.offset) + ": " + fault.what);
        summary += std::to_string(entries.size()) + " pack entries inside the pack";
    }
    std::printf("%s: %s: OK, %s\n", path.c_str(), DescribeInput(input).c_str(), summary.c_str());
    return 0;
}

const CommandRegistration kVerify({"verify", "<file>",
                                   "decodes every container block and checks every pack entry", RunVerify});

}  // namespace

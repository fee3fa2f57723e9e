// Lays out stub and container so that the patcher's scan finds the container.
#include "PayloadLayout.h"

#include "Command.h"

#include "framework/LittleEndian.h"

#include <cstring>
#include <string>

namespace {

const size_t kHeaderSize = 14;

// Replaces a compressed last block by its raw bytes, so that bytes behind it
// become padding of a raw block instead of garbage in a compressed one.
void StoreLastBlockRaw(std::vector<uint8_t>& container, const uint8_t* image, uint32_t imageSize)
{
    if (container.size() < kHeaderSize + 4 || LoadU32(&container[4]) != imageSize ||
        LoadU32(&container[8]) != kPayloadBlockSize)
        throw ToolError("the container does not hold the pack it was made from");
    const uint32_t count = imageSize == 0 ? 1 : (imageSize - 1) / kPayloadBlockSize + 1;
    if (container.size() < kHeaderSize + 4ull * count)
        throw ToolError("the container's block table is cut short");
    const uint32_t lastStart = LoadU32(&container[kHeaderSize + 4ull * (count - 1)]);
    const uint32_t lastLength = imageSize - (count - 1) * kPayloadBlockSize;
    if (lastStart > container.size())
        throw ToolError("the container's last block lies outside it");
    container.resize(lastStart);
    container.insert(container.end(), image + (imageSize - lastLength), image + imageSize);
}

} // namespace

std::vector<uint8_t> LayOutPatch(const std::vector<uint8_t>& stub, std::vector<uint8_t> container,
                                 const uint8_t* image, uint32_t imageSize, size_t* payloadOffset)
{
    const size_t block = (stub.size() + kScanStep - 1) / kScanStep * kScanStep;
    const size_t minimumEnd = block + 2 * kScanStep;
    size_t start = block;
    if (block + container.size() < minimumEnd) {
        StoreLastBlockRaw(container, image, imageSize);
        const uint32_t count = imageSize == 0 ? 1 : (imageSize - 1) / kPayloadBlockSize + 1;
        const uint32_t lastStart = LoadU32(&container[kHeaderSize + 4ull * (count - 1)]);
        // Zeros behind the raw last block, to the scan's minimum and to a
        // multiple of kFileAlignment.
        const size_t aligned = (container.size() + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
        container.resize(aligned > minimumEnd - block ? aligned : minimumEnd - block, 0);
        if (container.size() - lastStart > kPayloadBlockSize)
            throw ToolError("the padded last block would exceed the block size");
    } else {
        // Code signing aligns the certificate table it appends to 8 bytes and
        // pads a file that ends elsewhere: the container ends the file on a
        // multiple of 8, so that signing adds nothing to its last block.
        start += (kFileAlignment - container.size() % kFileAlignment) % kFileAlignment;
    }
    std::vector<uint8_t> patch(stub);
    patch.resize(start, 0);
    patch.insert(patch.end(), container.begin(), container.end());

    const size_t found = FindPayloadHeader(patch.data(), patch.size(), PayloadScanLimit(patch.size()));
    if (found < start)
        throw ToolError("the stub holds a container header at offset " + std::to_string(found) +
                        ", which the patcher's scan would take for its payload");
    if (found != start)
        throw ToolError("the patcher's scan would not find the payload at offset " + std::to_string(start));
    *payloadOffset = start;
    return patch;
}

bool StreamedContainerStart(const std::vector<uint8_t>& stub, size_t containerSize, size_t* start)
{
    if (containerSize < 2 * kScanStep)
        return false;
    // LayOutPatch places a long container by the stub's size and the
    // container's size modulo the scan step alone: it is asked about a
    // stand-in of two steps and the same remainder, which it reads no
    // further than the header.
    std::vector<uint8_t> standIn(2 * kScanStep + containerSize % kScanStep, 0);
    std::memcpy(standIn.data(), "LZSS", 4);
    standIn[9] = static_cast<uint8_t>(kPayloadBlockSize >> 8);
    size_t offset = 0;
    LayOutPatch(stub, std::move(standIn), nullptr, 0, &offset);
    *start = offset;
    return true;
}

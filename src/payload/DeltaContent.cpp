#include "payload/DeltaContent.h"

#include <cstring>

#include "payload/PatchCrc.h"

namespace {

bool Matches(const DeltaHeader& header, const DeltaContent& content, uint32_t size, uint32_t crc,
             const uint8_t* digest) {
    const unsigned measure = MeasureFor(header);
    if (content.size != size || !(content.measured & measure)) return false;
    if (measure == kMeasureCrc) return content.crc == crc;
    return std::memcmp(measure == kMeasureBlake3 ? content.blake3 : content.digest, digest, kDeltaDigestSize) == 0;
}

}  // namespace

ErrorCode MeasureContent(CFile* file, uint8_t* buffer, uint32_t bufferSize, unsigned measures, DeltaContent* content) {
    *content = DeltaContent{};
    content->size = file->GetSize();
    CSha256 sha;
    CBlake3 blake3;
    if (ErrorCode error = file->Seek(0, ORIGIN_BEGIN)) return error;
    for (uint32_t remaining = content->size; remaining;) {
        const uint32_t chunk = remaining < bufferSize ? remaining : bufferSize;
        uint32_t got = 0;
        if (ErrorCode error = file->Read(buffer, chunk, &got)) return error;
        if (got != chunk) return ERR_EOF;
        if (measures & kMeasureCrc) content->crc = Crc32Update(content->crc, buffer, chunk);
        if (measures & kMeasureDigest) sha.Update(buffer, chunk);
        if (measures & kMeasureBlake3) blake3.Update(buffer, chunk);
        remaining -= chunk;
    }
    if (measures & kMeasureDigest) sha.Finish(content->digest);
    if (measures & kMeasureBlake3) blake3.Finish(content->blake3);
    content->measured = measures;
    return nullptr;
}

unsigned MeasureFor(const DeltaHeader& header) {
    if (!(header.flags & kDeltaDigests)) return kMeasureCrc;
    return header.flags & kDeltaBlake3 ? kMeasureBlake3 : kMeasureDigest;
}

const char* MeasureName(unsigned measure) {
    return measure == kMeasureBlake3 ? "BLAKE3" : measure == kMeasureDigest ? "SHA-256" : "CRC-32";
}

bool IsDeltaOld(const DeltaHeader& header, const DeltaContent& content) {
    return Matches(header, content, header.oldSize, header.oldCrc, header.oldDigest);
}

bool IsDeltaNew(const DeltaHeader& header, const DeltaContent& content) {
    return Matches(header, content, header.newSize, header.newCrc, header.newDigest);
}

#include "payload/SignedImage.h"

#include "framework/LittleEndian.h"

#include <cstring>

namespace {

constexpr uint32_t kDosLfanewOffset = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kOptionalHeaderSizeField = 16;  // in the COFF header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kSecurityDirectory = 4;

}  // namespace

bool FindCertificateTable(CFile* file, CertificateTable* table) {
    const uint32_t fileSize = file->GetSize();
    uint8_t dos[64];
    if (fileSize < sizeof dos || ReadExactly(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t pe = LoadU32(dos + kDosLfanewOffset);
    // The signature, the COFF header and the optional header's fields up to
    // the end of the PE32+ data directories.
    uint8_t head[4 + kCoffHeaderSize + 112 + 16 * 8];
    if (pe > fileSize || fileSize - pe < 4 + kCoffHeaderSize + 2) return false;
    const uint32_t available = fileSize - pe < sizeof head ? fileSize - pe : uint32_t(sizeof head);
    std::memset(head, 0, sizeof head);
    if (ReadExactly(file, pe, head, available) || std::memcmp(head, "PE\0\0", 4) != 0) return false;
    const uint32_t optionalSize = LoadU16(head + 4 + kOptionalHeaderSizeField);
    const uint8_t* optional = head + 4 + kCoffHeaderSize;
    const uint16_t magic = LoadU16(optional);
    uint32_t countField, directories;
    if (magic == kPe32Magic) countField = 92, directories = 96;
    else if (magic == kPe32PlusMagic) countField = 108, directories = 112;
    else return false;
    const uint32_t entry = directories + 8 * kSecurityDirectory;
    if (optionalSize < entry + 8 || 4 + kCoffHeaderSize + entry + 8 > available) return false;
    if (LoadU32(optional + countField) <= kSecurityDirectory) return false;
    const uint32_t offset = LoadU32(optional + entry), size = LoadU32(optional + entry + 4);
    if (size == 0 || offset == 0 || offset > fileSize || size > fileSize - offset) return false;
    table->offset = offset;
    table->size = size;
    return true;
}

uint32_t PayloadEnd(CFile* file, uint32_t payloadStart) {
    const uint32_t fileSize = file->GetSize();
    CertificateTable table;
    if (FindCertificateTable(file, &table) && table.offset > payloadStart && table.offset + table.size == fileSize)
        return table.offset;
    return fileSize;
}

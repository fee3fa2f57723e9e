// Opens a built patch the way the patcher does: its payload scan finds the
// container, a window over it feeds a CLzssFile, and a CPackFS reads the pack.
#pragma once

#include "MemoryFile.h"

#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/PackFS.h"

#ifdef QP_HAVE_APP_SCAN
#include "app/Payload.h"
#endif

#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The scan rule, for builds without the application: 8210-byte reads at
// every multiple of 8192 below L, each start of a read's first 8192 bytes
// tried in order.
inline bool ScanByRule(const std::vector<uint8_t>& file, uint32_t* offset)
{
    const size_t rounded = file.size() / 8192 * 8192;
    if (rounded <= 8192)
        return false;
    const size_t limit = rounded - 8192;
    for (size_t block = 0; block < limit; block += 8192) {
        const uint8_t* p = file.data() + block;
        for (size_t i = 0; i < 8192; ++i) {
            const uint32_t size = static_cast<uint32_t>(p[i + 8]) | p[i + 9] << 8 | p[i + 10] << 16 |
                                  static_cast<uint32_t>(p[i + 11]) << 24;
            if (std::memcmp(p + i, "LZSS", 4) == 0 && size == 0x8000) {
                *offset = static_cast<uint32_t>(block + i);
                return true;
            }
        }
    }
    return false;
}

inline bool FindPayload(const std::vector<uint8_t>& file, uint32_t* offset)
{
#ifdef QP_HAVE_APP_SCAN
    MemoryFile disk(file);
    return FindPayloadOffset(&disk, offset);
#else
    return ScanByRule(file, offset);
#endif
}

// The pack inside a patch, for reading its entries.
class OpenedPatch {
public:
    OpenedPatch(const std::vector<uint8_t>& file, uint32_t offset) : disk_(file)
    {
        CLzssFile* lzss = new CLzssFile(new CWindowFile(&disk_, offset, CWindowFile::kWindowToEnd, false), true);
        opened_ = lzss->isOpen;
        if (!opened_) {
            delete lzss;
            return;
        }
        opened_ = pack_.Attach(lzss) == nullptr;
    }
    bool Opened() const { return opened_; }

    // The entry's bytes; false when it cannot be opened or read whole.
    bool Read(const char* name, std::vector<uint8_t>* bytes)
    {
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> file(pack_.Open(name, FM_READ, &error));
        if (!file)
            return false;
        bytes->assign(file->GetSize(), 0);
        uint32_t got = 0;
        return bytes->empty() || (file->Read(bytes->data(), static_cast<uint32_t>(bytes->size()), &got) == nullptr &&
                                  got == bytes->size());
    }
    CPackFS& Pack() { return pack_; }

private:
    MemoryFile disk_;
    CPackFS pack_;
    bool opened_ = false;
};

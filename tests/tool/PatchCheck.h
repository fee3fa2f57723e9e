// Opens a built patch the way the patcher does: its payload scan finds the
// container, a window over it feeds a CLzssFile, and a CPackFS reads the pack.
#pragma once

#include "MemoryFile.h"

#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/PackFS.h"
#include "payload/PayloadScan.h"


#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The patcher's own scan.
inline bool FindPayload(const std::vector<uint8_t>& file, uint32_t* offset)
{
    MemoryFile disk(file);
    return FindPayloadOffset(&disk, offset);
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
        return bytes->empty() || ReadExactly(file.get(), 0, bytes->data(), static_cast<uint32_t>(bytes->size())) == nullptr;
    }
    CPackFS& Pack() { return pack_; }

private:
    MemoryFile disk_;
    CPackFS pack_;
    bool opened_ = false;
};

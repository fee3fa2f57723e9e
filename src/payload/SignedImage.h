// The certificate table of a signed Windows executable. Code signing
// appends the table at the end of the file and points the PE security data
// directory (index 4; its "address" is a file offset) at it, so a payload
// appended before signing ends where the table starts.
#pragma once

#include <cstdint>

#include "file/File.h"

struct CertificateTable {
    uint32_t offset = 0;
    uint32_t size = 0;
};

// True, with the table's place, when file is a PE image (PE32 or PE32+)
// whose security directory names a non-empty table inside the file.
bool FindCertificateTable(CFile* file, CertificateTable* table);

// Where the payload that starts at payloadStart ends: at the certificate
// table when one lies behind the payload and runs to the end of the file,
// else at the end of the file.
uint32_t PayloadEnd(CFile* file, uint32_t payloadStart);

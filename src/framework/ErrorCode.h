// Error codes: a code is the address of a constant name text; null is success.
// Codes are compared by address only, so each text is defined exactly once
// (ErrorCode.cpp) and referred to everywhere through the names below.
#pragma once

typedef const char* ErrorCode;

// General group, in declaration order.
extern const char ERR_UNKNOWN[];          // "\"Unknown error\""
extern const char ERR_NOTIMPLEMENTED[];   // "\"Not implemented yet\""
extern const char ERR_COBJECT[];          // "CObject", the root class's name
extern const char ERR_ALLOCFAIL[];
extern const char ERR_LOCKFAIL[];
extern const char ERR_REALLOCFAIL[];
extern const char ERR_NOTLOCKED[];
extern const char ERR_INDEXOUTOFRANGE[];
extern const char ERR_BUFFERTOOSMALL[];
extern const char ERR_BADPARAMS[];
extern const char ERR_OUTOFRANGE[];
extern const char ERR_NOTFOUND[];
extern const char ERR_INVALIDFORMAT[];
extern const char ERR_WHATAMESS[];

// File group ("FILE"), in declaration order.
extern const char ERR_FILE[];
extern const char ERR_NOTENOUGHMEM[];
extern const char ERR_READFAIL[];
extern const char ERR_WRITEFAIL[];
extern const char ERR_EOF[];
extern const char ERR_BADOPENMODE[];
extern const char ERR_SEEKFAIL[];
extern const char ERR_FILENOTFOUND[];
extern const char ERR_BADFILEFORMAT[];
extern const char ERR_OPENFAIL[];
extern const char ERR_TRUNCFAIL[];
extern const char ERR_FLUSHFAIL[];
extern const char ERR_PATHNOTFOUND[];
extern const char ERR_ACCESSDENIED[];
extern const char ERR_FILEEXIST[];
extern const char ERR_NOMOREFILES[];
extern const char ERR_NOTREADY[];
extern const char ERR_VOLUMENOTFOUND[];
extern const char ERR_TOOMANYOPENFILES[];
extern const char ERR_WRITEPROTECTED[];
extern const char ERR_BADVOLUME[];
extern const char ERR_DISKFULL[];
extern const char ERR_SHARING[];
extern const char ERR_ALREADYEXISTS[];
extern const char ERR_UNKNOWNPID[];

// Pool group ("POOL"), in declaration order.
extern const char ERR_POOL[];
extern const char ERR_COMPACTED[];
extern const char ERR_OVERMAXSIZE[];
extern const char ERR_NOTCREATED[];
extern const char ERR_NOTPOOLFILE[];
extern const char ERR_ZEROSIZE[];
extern const char ERR_NOTENOUGHMEMORY[];
extern const char ERR_NULLPOINTER[];
extern const char ERR_SIZEOUTOFRANGE[];

// Strings-table group ("HASHINI"), in declaration order.
extern const char ERR_HASHINI[];
extern const char ERR_BADFILE[];
extern const char ERR_NOTINLIST[];

// Compressed-container group: its first entry is the class name "CLzssFile".
extern const char ERR_CLZSSFILE[];
extern const char ERR_NOSUCHBITLENGTHS[];

// Binary-delta group ("DELTA"), in declaration order: a damaged delta, an old
// file that is not the delta's base, a rebuilt file whose CRC-32 differs.
extern const char ERR_DELTA[];
extern const char ERR_BADDELTA[];
extern const char ERR_WRONGBASE[];
extern const char ERR_BADRESULT[];

// The pack service refuses an open for writing with the bare number 8001.
// It is carried as the address of its own text "8001": non-null, distinct
// from every named code, and printable like any other code.
extern const char ERR_NUMERIC_8001[];

// Every code above, group by group in declaration order (for tests and tools).
extern const ErrorCode g_AllErrorCodes[];
extern const unsigned g_AllErrorCodeCount;

// Printable text of a code; "OK" for success.
inline const char* ErrorText(ErrorCode code) { return code ? code : "OK"; }

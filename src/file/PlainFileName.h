// Names the patcher may write to: a plain Windows file name (one component,
// no path), and relative paths made only of such names. Patch entries and
// the shortcut's name are checked with these before anything is written, so
// that no name can reach outside the folder it is meant for.
#pragma once

// The suffix of the temporary file that a patched file is written under
// before it replaces its target, in the target's folder. A patch may not ship
// a name that ends in it.
extern const char kPartialFileSuffix[];  // ".~qp"

// The characters Windows refuses in a name: \ / : * ? " < > |
extern const char kReservedNameCharacters[];

// Why a name breaks the rules below; the first rule broken, in this order.
enum class NameFault {
    kNone,
    kEmpty,
    kTooLong,            // more than 255 bytes
    kFolderReference,    // "." or ".."
    kControlCharacter,   // a byte below 32
    kReservedCharacter,  // one of \ / : * ? " < > |
    kTrailingDotOrBlank, // which Windows drops
    kDeviceName,         // CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension
    kNotAscii,           // a byte above 126 (patch paths only)
    kPartialSuffix,      // ends in kPartialFileSuffix (patch paths only)
};

// A name that Windows creates as given, in the folder it is given for: not
// empty, at most 255 bytes, not "." or "..", no character below 32 and none
// of \ / : * ? " < > |, no trailing dot or space, and not a reserved device
// name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$), with or without
// an extension.
NameFault PlainFileNameFault(const char* name);
bool IsPlainFileName(const char* name);

// A name a patch may write: a plain file name in printable ASCII (a byte
// above 126 would name another file in another code page) that does not end
// in kPartialFileSuffix. qptool holds every carried path to this same rule.
NameFault PatchFileNameFault(const char* name);

// One or more plain file names joined by single backslashes: no drive, no
// leading or trailing backslash, no "." or "..".
bool IsPlainRelativePath(const char* path);

// A relative path that a patch may write below the game folder: names that
// pass PatchFileNameFault joined by single backslashes.
bool IsPatchFilePath(const char* path);

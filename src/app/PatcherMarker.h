// A byte string that every patcher carries, by which the patch tool tells a
// patcher from any other program it might be handed as the stub. It is kept
// here only masked (each byte XORed with kPatcherMarkerMask): the patcher
// unmasks it at compile time, while a program that merely looks for it (the
// tool) unmasks it at run time and so does not carry it and pass for a
// patcher itself. It holds no container header, so the payload scan passes
// over it.
#pragma once

#include <cstddef>

constexpr size_t kPatcherMarkerSize = 24;
constexpr unsigned char kPatcherMarkerMask = 0x5A;
// "QUOR patcher stub 1" and five distinctive bytes, masked.
constexpr unsigned char kPatcherMarkerMasked[kPatcherMarkerSize] = {
    'Q' ^ 0x5A, 'U' ^ 0x5A, 'O' ^ 0x5A, 'R' ^ 0x5A, ' ' ^ 0x5A, 'p' ^ 0x5A, 'a' ^ 0x5A, 't' ^ 0x5A,
    'c' ^ 0x5A, 'h' ^ 0x5A, 'e' ^ 0x5A, 'r' ^ 0x5A, ' ' ^ 0x5A, 's' ^ 0x5A, 't' ^ 0x5A, 'u' ^ 0x5A,
    'b' ^ 0x5A, ' ' ^ 0x5A, '1' ^ 0x5A, 0xF9 ^ 0x5A, 0xA1 ^ 0x5A, 0xBF ^ 0x5A, 0x29 ^ 0x5A, 0xE8 ^ 0x5A};

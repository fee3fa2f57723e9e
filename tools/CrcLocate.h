// Where one changed byte lies, from a CRC-32 that does not match: the CRC
// is linear, so the found CRC xor the stored one depends only on the change
// and its distance from the message's end, and a change within one byte
// has one distance that explains it. Damage of more bytes is usually
// explained by none; about length x 2^-24 of such cases find a position
// that is only a coincidence, so callers say "would explain", never "is".
#pragma once

#include <cstdint>

// False when no change of a single byte in a message of length bytes gives
// the syndrome (found CRC xor stored CRC); else the byte's position from
// the message's start.
bool LocateOneChangedByte(uint32_t syndrome, uint64_t length, uint64_t* position);

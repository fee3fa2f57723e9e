// Where one changed byte lies, from a CRC-32 that does not match: the CRC
// is linear, so the found CRC xor the stored one depends only on the change
// and its distance from the message's end, and a change within one byte
// has one distance that explains it. But each position has 255 changes of
// its own, so in a message of n bytes about n x 255 / 2^32 positions
// explain any syndrome by coincidence: a position is named only when it is
// the one explanation in a message short enough that a coincidence is
// unlikely (under one in eight).
#pragma once

#include <cstdint>

// The longest message whose one explanation is named.
constexpr uint64_t kLocatableLength = (uint64_t(1) << 32) / 255 / 8;

// False when the message is longer than kLocatableLength, or when not
// exactly one change of a single byte in a message of length bytes gives
// the syndrome (found CRC xor stored CRC); else the byte's position from
// the message's start.
bool LocateOneChangedByte(uint32_t syndrome, uint64_t length, uint64_t* position);

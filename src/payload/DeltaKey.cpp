// The names of delta entries.
#include "payload/DeltaKey.h"

namespace {

const char kDigits[] = "0123456789ABCDEF";

void Put(uint32_t value, char* at) {
    for (int i = 7; i >= 0; --i, value >>= 4) at[i] = kDigits[value & 0xF];
}

bool Get(const char* at, uint32_t* value) {
    uint32_t result = 0;
    for (int i = 0; i < 8; ++i) {
        const char c = at[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
        else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
        else return false;
        result = result << 4 | digit;
    }
    *value = result;
    return true;
}

}  // namespace

void FormatDeltaKey(uint32_t oldSize, uint32_t oldCrc, char name[kDeltaKeyLength + 1]) {
    Put(oldSize, name);
    Put(oldCrc, name + 8);
    name[kDeltaKeyLength] = '\0';
}

bool ParseDeltaKey(const char* name, uint32_t* oldSize, uint32_t* oldCrc) {
    for (unsigned i = 0; i < kDeltaKeyLength; ++i)
        if (name[i] == '\0') return false;
    return name[kDeltaKeyLength] == '\0' && Get(name, oldSize) && Get(name + 8, oldCrc);
}

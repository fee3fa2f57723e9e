// The patcher's marker (app/PatcherMarker.h), unmasked at compile time into
// the program's read-only data. Linked straight into the executable and
// marked used, so neither the compiler nor the linker drops it.
#include "app/PatcherMarker.h"

namespace {

struct Marker {
    unsigned char bytes[kPatcherMarkerSize];
};

constexpr Marker Unmasked()
{
    Marker marker{};
    for (size_t i = 0; i < kPatcherMarkerSize; ++i)
        marker.bytes[i] = static_cast<unsigned char>(kPatcherMarkerMasked[i] ^ kPatcherMarkerMask);
    return marker;
}

}  // namespace

extern const Marker g_PatcherMarker;
[[gnu::used]] constexpr Marker g_PatcherMarker = Unmasked();

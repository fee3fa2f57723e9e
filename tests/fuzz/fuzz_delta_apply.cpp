// ApplyDelta over arbitrary delta bytes against a fixed old file: the result
// is an error, or exactly the header's size with the header's CRC (and
// digest, when it has one). The sanitizers catch any read or write out of
// bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DeltaFuzzBase.h"
#include "MemoryFile.h"
#include "payload/Delta.h"
#include "payload/DeltaContent.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"
#include "pools/ReusePtrPool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> kOld = DeltaFuzzOld();
    // The applier's blocks kept from run to run, as the patcher keeps them
    // from file to file: fresh ones cost most of a run.
    static CReusePtrPool reuse(g_pDefaultPtrPool);
    MemoryFile old(kOld), secondOld(kOld), delta(std::vector<uint8_t>(data, data + size)), out;
    // Inputs of odd size read a segmented stream's segments in pairs, as for
    // a helper thread (which never starts here).
    const DeltaHelper helper{{[](void (*)(void*), void*) -> void* { return nullptr; }, [](void*) {}}, &secondOld, 0};
    DeltaHeader header;
    bool headerRead = ReadDeltaHeader(&delta, &header) == nullptr;
    // A lying size only makes a long run to the CRC check (the unit tests
    // have those); the fuzzer explores the stream.
    if (headerRead && header.newSize > (1u << 20)) return 0;
    delta.position = 0;
    ErrorCode error = ApplyDelta(&old, &delta, &out, size % 2 ? &helper : nullptr, &reuse);
    if (!headerRead && !error) __builtin_trap();
    if (headerRead && out.data.size() > header.newSize) __builtin_trap();
    if (!error && (out.data.size() != header.newSize || Crc32(out.data.data(), out.data.size()) != header.newCrc))
        __builtin_trap();
    if (!error && (header.flags & kDeltaDigests)) {
        CDeltaDigest result(MeasureFor(header));
        result.Update(out.data.data(), out.data.size());
        uint8_t digest[kDeltaDigestSize];
        result.Finish(digest);
        if (std::memcmp(digest, header.newDigest, kDeltaDigestSize) != 0) __builtin_trap();
    }
    return 0;
}

#include "payload/Blake3Halves.h"

namespace {

// Where the halves meet: a multiple of this, so that reads stay aligned.
constexpr uint32_t kHalfAlign = 65536;

ErrorCode HashRead(CFile* file, uint8_t* buffer, uint32_t bufferSize, uint32_t size, CBlake3* tree) {
    for (uint32_t remaining = size; remaining;) {
        const uint32_t chunk = remaining < bufferSize ? remaining : bufferSize;
        uint32_t got = 0;
        if (ErrorCode error = file->Read(buffer, chunk, &got)) return error;
        if (got != chunk) return ERR_EOF;
        tree->Update(buffer, chunk);
        remaining -= chunk;
    }
    return nullptr;
}

// The second half: the helper's alone from its start until it is waited for.
struct Half {
    explicit Half(uint32_t start) : from(start), tree(start / kBlake3Chunk) {}
    CFile* file = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    uint32_t from;
    uint32_t size = 0;
    CBlake3 tree;
    ErrorCode error = nullptr;
};

void HashHalf(void* argument) {
    auto* half = static_cast<Half*>(argument);
    half->error = half->file->SeekTo(half->from);
    if (!half->error) half->error = HashRead(half->file, half->buffer, half->bufferSize, half->size, &half->tree);
}

}  // namespace

ErrorCode MeasureBlake3Halves(CFile* file, CFile* other, uint8_t* const buffers[2], uint32_t bufferSize,
                              const HelperThreads& threads, DeltaContent* content) {
    *content = DeltaContent{};
    content->size = file->GetSize();
    const uint32_t middle = content->size / 2 / kHalfAlign * kHalfAlign;
    Half second(middle);
    second.file = other;
    second.buffer = buffers[1];
    second.bufferSize = bufferSize;
    second.size = content->size - middle;
    void* helper = threads.start(HashHalf, &second);
    CBlake3 tree;
    ErrorCode error = file->Seek(0, ORIGIN_BEGIN);
    if (!error) error = HashRead(file, buffers[0], bufferSize, middle, &tree);
    if (helper)
        threads.wait(helper);
    else if (!error)
        HashHalf(&second);
    if (error || (error = second.error)) return error;
    tree.Join(second.tree);
    tree.Finish(content->blake3);
    content->measured = kMeasureBlake3;
    return nullptr;
}

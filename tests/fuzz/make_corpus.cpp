// Writes the seed corpora of the fuzz targets with the library's own
// writers. Not part of the build; run from the repository root:
//   c++ -std=c++17 -Isrc -Itools -Itests/support tests/fuzz/make_corpus.cpp tools/DeltaEncode.cpp tools/DeltaExtend.cpp \
//       tools/DeltaRefModel.cpp tools/ExecutableImage.cpp \
//       build/gcc/src/libqpcore.a -pthread -o build/make_corpus
//   build/make_corpus tests/fuzz/corpus
// inspect/delta-patch, the container of a real-size two-version patch, comes
// from the tool's own build instead:
//   QP_SAVE_DELTA_PATCH=$PWD/tests/fuzz/corpus/inspect/delta-patch
//       build/gcc/tests/tool_inspect/test_tool_inspect --gtest_filter='DeltaPatch*Sound*'
// (one command line)
// (it must stay under 1 MB, the most libFuzzer reads of a seed by default).
#include <cstdio>
#include <string>
#include <vector>

#include "DeltaEncode.h"
#include "DeltaFuzzBase.h"
#include "MemoryFile.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"

namespace {

std::string g_root;

void Save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = g_root + "/" + target + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::vector<uint8_t> Text(size_t n) {
    const char* words[] = {"patch ", "file ", "the ", "game ", "version\r\n", "block "};
    std::string s;
    for (unsigned i = 0; s.size() < n; i = i * 7 + 3) s += words[i % 6];
    return std::vector<uint8_t>(s.begin(), s.begin() + long(n));
}

std::vector<uint8_t> Binary(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i % 13 == 0 ? 0xE8 : (i * i) >> 5);
    return v;
}

std::vector<uint8_t> Stream(const std::vector<uint8_t>& in, uint8_t bits) {
    std::vector<uint8_t> out(in.size() * 2 + 16);
    uint32_t length = uint32_t(out.size());
    EncodeBlock(in.data(), uint32_t(in.size()), out.data(), &length, bits, nullptr);
    out.resize(length);
    return out;
}

std::vector<uint8_t> Container(const std::vector<uint8_t>& in, uint32_t blockSize, uint8_t bits) {
    MemoryFile file;
    CompressLzssImage(in.data(), uint32_t(in.size()), &file, blockSize, bits, nullptr);
    return file.data;
}

std::vector<uint8_t> Pack(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    std::vector<PackWriterEntry> entries;
    for (const auto& f : files) entries.push_back({f.first.c_str(), f.second.data(), uint32_t(f.second.size()), 0});
    MemoryFile file;
    WritePack(entries.data(), uint32_t(entries.size()), &file);
    return file.data;
}

}  // namespace

// Edits of the delta target's old file: bytes changed in place, a stretch
// inserted and one removed, noise inserted (sent raw), and everything
// rewritten; each in segments of about 1,500 bytes with and without the
// files' digests, in one fast stream and in the first stream.
void DeltaSeeds() {
    const std::vector<uint8_t> old = DeltaFuzzOld();
    std::vector<uint8_t> changed = old;
    for (size_t i = 1; i < changed.size(); i += 97) changed[i] = uint8_t(changed[i] + 3);
    std::vector<uint8_t> moved = old;
    moved.insert(moved.begin() + 1000, old.begin() + 4500, old.begin() + 4700);
    moved.erase(moved.begin() + 3000, moved.begin() + 3400);
    std::vector<uint8_t> noise = old;
    for (uint32_t i = 0, x = 1; i < 600; ++i, x = x * 1103515245u + 12345u)
        noise.insert(noise.begin() + 2000 + i, uint8_t(x >> 24));
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds = {
        {"same", old},           {"changed", changed}, {"moved", moved}, {"noise", noise},
        {"other", Text(700)}, {"empty", {}}};
    for (const auto& seed : seeds) {
        const uint8_t* bytes = seed.second.data();
        Save("delta_apply", "digest-" + seed.first,
             EncodeDelta(old.data(), old.size(), bytes, seed.second.size(), 1,
                         kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests, {1500, 0}));
        Save("delta_apply", "blake3-" + seed.first,
             EncodeDelta(old.data(), old.size(), bytes, seed.second.size(), 1,
                         kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests | kDeltaBlake3,
                         {1500, 0}));
        Save("delta_apply", "seg-" + seed.first,
             EncodeDelta(old.data(), old.size(), bytes, seed.second.size(), 1,
                         kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments, {1500, 0}));
        Save("delta_apply", "fast-" + seed.first,
             EncodeDelta(old.data(), old.size(), bytes, seed.second.size(), 1, kDeltaRawLiterals | kDeltaFastCoding));
        Save("delta_apply", seed.first,
             EncodeDelta(old.data(), old.size(), bytes, seed.second.size(), 1, kDeltaRawLiterals));
    }
    // Deltas from another path: the source named after the digests.
    for (const auto& seed : seeds) {
        if (seed.first != "moved" && seed.first != "changed") continue;
        std::vector<uint8_t> delta =
            EncodeDelta(old.data(), old.size(), seed.second.data(), seed.second.size(), 1,
                        kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests | kDeltaBlake3,
                        {1500, 0});
        AddDeltaSource(&delta, "Data\\engine-1.2.dll");
        Save("delta_apply", "source-" + seed.first, delta);
    }
    // The same edits against the old file with its references predicted.
    for (const auto& seed : seeds) {
        if (seed.first != "moved" && seed.first != "changed") continue;
        const uint8_t* bytes = seed.second.data();
        Save("delta_apply", "refs-seg-" + seed.first,
             EncodeDeltaPredicted(old.data(), old.size(), bytes, seed.second.size(), DeltaFuzzRefModel(), 1,
                                  kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments, {1500, 0}));
        Save("delta_apply", "refs-" + seed.first,
             EncodeDeltaPredicted(old.data(), old.size(), bytes, seed.second.size(), DeltaFuzzRefModel(), 1,
                                  kDeltaRawLiterals | kDeltaFastCoding));
    }
}

int main(int argc, char** argv) {
    g_root = argc > 1 ? argv[1] : "tests/fuzz/corpus";
    DeltaSeeds();
    // Decoder: variant index, capacity, stream.
    const uint8_t variants[] = {0xA1, 0xB3, 0xC4, 0xC5};
    const uint8_t indexes[] = {0, 7, 13, 14};
    for (int k = 0; k < 4; ++k) {
        auto text = Stream(Text(1500), variants[k]);
        text.insert(text.begin(), {indexes[k], 0x05, 0xDC});
        Save("lzss_decode", "text" + std::to_string(k), text);
        auto binary = Stream(Binary(1200), variants[k]);
        binary.insert(binary.begin(), {indexes[k], 0x04, 0xB0});
        Save("lzss_decode", "binary" + std::to_string(k), binary);
    }
    // Round trip: variant byte, data.
    for (uint8_t first : {0x0D, 0x80, 0x05}) {
        auto text = Text(900);
        text.insert(text.begin(), first);
        Save("lzss_roundtrip", "text" + std::to_string(first), text);
        auto binary = Binary(700);
        binary.insert(binary.begin(), first);
        Save("lzss_roundtrip", "binary" + std::to_string(first), binary);
    }
    // Containers.
    Save("lzss_file", "text", Container(Text(5000), 1024, 0xC4));
    Save("lzss_file", "binary", Container(Binary(3000), 512, 0xA2));
    Save("lzss_file", "patch", Container(Text(2000), 0x8000, 0xC4));
    MemoryFile empty;
    CreateLzssContainer(&empty, 256, 0xB5);
    Save("lzss_file", "empty", empty.data);
    // Packs.
    Save("packfs", "patch", Pack({{"Patch.ini", Text(300)},
                                  {"Files\\quor.exe", Binary(500)},
                                  {"Files\\data\\a.bin", Binary(40)},
                                  {"Files\\data\\b.bin", {}},
                                  {"Files\\maps\\x.map", Text(100)}}));
    Save("packfs", "long", Pack({{std::string(120, 'D') + "\\" + std::string(134, 'L'), {7}}, {"A", {1}}}));
    std::vector<std::pair<std::string, std::vector<uint8_t>>> many;
    for (int i = 0; i < 120; ++i) many.push_back({"DIR" + std::to_string(i % 7) + "\\F" + std::to_string(i), {uint8_t(i)}});
    Save("packfs", "sampled", Pack(many));
    return 0;
}

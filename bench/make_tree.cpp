// Writes a deterministic game-update tree for the whole-patch benchmark:
//   make_tree small <dir>   15 files in the top folder and two subfolders
//   make_tree large <dir>   2,000 files in 20 folders, two levels deep
//   make_tree many <dir>    20,000 files of 1-16 KB in 200 folders, two levels deep
//   make_tree <kind> <dir> old   the version before: the same paths and sizes,
//                                every file's first bytes changed, and one file
//                                in twenty also under "retired/", which the new
//                                version drops
//   make_tree <kind> <dir> old-upper   the same with every name upper-cased,
//                                as a patch leaves the names it writes
// Three kinds of content, as a game update carries them: CRLF text (words of
// a small vocabulary, very compressible), structured binary records (ids and
// slowly changing fields, half compressible) and noise (already compressed
// sound and textures, incompressible).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct Random {
    uint64_t state;
    uint64_t Next() {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
};

const char* const kWords[] = {
    "the", "of", "and", "to", "in", "peasant", "castle", "gold", "wood", "stone", "knight", "archer",
    "tower", "wall", "gate", "mill", "farm", "road", "river", "bridge", "army", "king", "queen", "map",
    "unit", "spell", "fire", "ice", "attack", "defend", "build", "upgrade", "version", "patch", "fixed",
    "crash", "when", "loading", "saved", "game", "multiplayer", "server", "player", "speed", "damage"};

enum Kind { Text, Records, Noise };

std::vector<uint8_t> Content(Kind kind, size_t size, Random& rng) {
    std::vector<uint8_t> out;
    out.reserve(size + 64);
    if (kind == Text) {
        size_t column = 0;
        while (out.size() < size) {
            // Low word indices far more often than high ones.
            uint32_t w = rng.Below(45) * rng.Below(45) / 45;
            const char* word = kWords[w];
            out.insert(out.end(), word, word + std::strlen(word));
            column += std::strlen(word) + 1;
            if (column > 60 + rng.Below(20)) {
                out.push_back('\r');
                out.push_back('\n');
                column = 0;
            } else {
                out.push_back(' ');
            }
        }
    } else if (kind == Records) {
        uint32_t id = rng.Below(1000), x = 0, y = 0;
        while (out.size() < size) {
            uint8_t record[32] = {};
            ++id;
            x += rng.Below(3);
            y += rng.Below(2);
            std::memcpy(record, &id, 4);
            std::memcpy(record + 4, &x, 4);
            std::memcpy(record + 8, &y, 4);
            record[12] = uint8_t(rng.Below(8));
            record[13] = uint8_t(rng.Below(4));
            for (int i = 16; i < 24; ++i) record[i] = uint8_t(rng.Next());
            std::memcpy(record + 24, "QUORDATA", 8);
            out.insert(out.end(), record, record + 32);
        }
    } else {
        while (out.size() < size) {
            uint64_t v = rng.Next();
            out.insert(out.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 8);
        }
    }
    out.resize(size);
    return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

struct Planned {
    std::string path;
    Kind kind;
    size_t size;
};

std::vector<Planned> SmallTree() {
    // About 5 MB in 15 files; about 3.6 MB packed.
    return {{"Readme-1.05.txt", Text, 24000},     {"Changes.txt", Text, 61000},
            {"Quor.dat", Records, 900000},        {"units.ini", Text, 48000},
            {"local.ini", Text, 12000},           {"maps/kingsfall.map", Records, 640000},
            {"maps/riverlands.map", Records, 520000}, {"maps/islands.map", Records, 310000},
            {"maps/campaign.txt", Text, 150000},  {"maps/skirmish.txt", Text, 22000},
            {"sound/battle.snd", Noise, 900000},  {"sound/castle.snd", Noise, 700000},
            {"sound/menu.snd", Noise, 410000},    {"sound/voices.snd", Noise, 380000},
            {"sound/sound.ini", Text, 3500}};
}

std::vector<Planned> LargeTree(Random& rng) {
    // 2,000 files of 1 KB to about 110 KB in 4 top folders of 4 subfolders each
    // (plus the top folders themselves): about 90 MB, about 64 MB packed.
    std::vector<Planned> plan;
    const char* const tops[] = {"data", "maps", "sound", "gfx"};
    for (int i = 0; i < 2000; ++i) {
        int top = i % 4, sub = (i / 4) % 5;
        std::string dir = std::string(tops[top]) + (sub ? "/set" + std::to_string(sub) : std::string());
        Kind kind = top == 2 || top == 3 ? (rng.Below(5) ? Noise : Records) : (rng.Below(2) ? Text : Records);
        size_t size = 1024 + size_t(rng.Below(100)) * rng.Below(100) * 18 + rng.Below(4096);
        char name[32];
        std::snprintf(name, sizeof name, "/f%04d.%s", i, kind == Text ? "txt" : kind == Noise ? "snd" : "dat");
        plan.push_back({dir + name, kind, size});
    }
    return plan;
}

std::vector<Planned> ManyTree(Random& rng) {
    // 20,000 small files (1 KB to 16 KB) in 20 top folders of 10 subfolders
    // each: about 170 MB, as a game of many small files ships them.
    std::vector<Planned> plan;
    for (int i = 0; i < 20000; ++i) {
        std::string dir = "d" + std::to_string(i % 20) + "/s" + std::to_string((i / 20) % 10);
        uint32_t pick = rng.Below(4);
        Kind kind = pick == 0 ? Text : pick == 1 ? Records : Noise;
        size_t size = 1024 + rng.Below(15 * 1024 + 1);
        char name[32];
        std::snprintf(name, sizeof name, "/f%05d.%s", i, kind == Text ? "txt" : kind == Noise ? "snd" : "dat");
        plan.push_back({dir + name, kind, size});
    }
    return plan;
}

void MakeDirs(const std::string& root, const std::string& relative) {
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
        mkdir((root + "/" + relative.substr(0, slash)).c_str(), 0755);
}

}  // namespace

int main(int argc, char** argv) {
    const bool upper = argc == 4 && std::strcmp(argv[3], "old-upper") == 0;
    const bool old = upper || (argc == 4 && std::strcmp(argv[3], "old") == 0);
    if ((argc != 3 && !old) || (std::strcmp(argv[1], "small") && std::strcmp(argv[1], "large") && std::strcmp(argv[1], "many"))) {
        std::fprintf(stderr, "usage: make_tree small|large|many <dir> [old]\n");
        return 2;
    }
    Random rng{0x51554F52ULL};
    std::string root = argv[2];
    mkdir(root.c_str(), 0755);
    std::vector<Planned> plan = std::strcmp(argv[1], "small") == 0   ? SmallTree()
                                : std::strcmp(argv[1], "large") == 0 ? LargeTree(rng)
                                                                     : ManyTree(rng);
    if (old)
        for (size_t i = 0, n = plan.size(); i < n; i += 20) plan.push_back({"retired/" + plan[i].path, plan[i].kind, plan[i].size});
    if (upper)
        for (Planned& file : plan)
            for (char& c : file.path) c = char(std::toupper(static_cast<unsigned char>(c)));
    size_t total = 0;
    for (const Planned& file : plan) {
        MakeDirs(root, file.path);
        std::vector<uint8_t> bytes = Content(file.kind, file.size, rng);
        if (old)
            for (size_t i = 0; i < bytes.size() && i < 16; ++i) bytes[i] ^= 0x5A;
        if (!WriteFile(root + "/" + file.path, bytes)) {
            std::perror(file.path.c_str());
            return 1;
        }
        total += file.size;
    }
    std::printf("%zu files, %zu bytes\n", plan.size(), total);
    return 0;
}

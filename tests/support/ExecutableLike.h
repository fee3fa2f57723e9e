// Deterministic bytes shaped like a 32-bit Windows program, and its next
// versions: functions made of common instruction patterns whose calls hold
// relative targets, string tables the code points at by absolute address,
// an address table, and zero-filled alignment and data. A version that
// inserts, drops or changes functions moves every address behind the
// change, across code and tables, as a rebuilt program does; so its deltas
// look like a real program's, and the bytes compress about as a program's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace testdata {

class ExecutableLike {
public:
    // About size bytes; zeroShare of them zero-filled data (0 to 1).
    ExecutableLike(uint32_t seed, size_t size, double zeroShare = 0.25) : rng_(seed), zeroShare_(zeroShare) {
        for (size_t code = 0; Estimate(code) < size;) {
            functions_.push_back(Next());
            code += Align(BodyLength(functions_.back()), 16);
            if (functions_.size() % 8 == 0) strings_.push_back(Next());
        }
    }

    // The next version: edits functions here and there, inserts and drops
    // a few, adds strings.
    ExecutableLike Changed(uint32_t seed, unsigned edits) const {
        ExecutableLike next = *this;
        next.rng_.seed(seed);
        for (unsigned i = 0; i < edits; ++i) {
            const size_t at = next.rng_() % next.functions_.size();
            switch (next.rng_() % 4) {
            case 0: next.functions_.insert(next.functions_.begin() + long(at), next.Next()); break;
            case 1: if (next.functions_.size() > 1) next.functions_.erase(next.functions_.begin() + long(at)); break;
            case 2: next.strings_.insert(next.strings_.begin() + long(at % next.strings_.size()), next.Next()); break;
            default: next.functions_[at] = next.Next(); break;
            }
        }
        return next;
    }

    std::vector<uint8_t> Bytes() const {
        // Places first: code, then strings, then the address table and data.
        std::vector<uint32_t> functionAt, stringAt;
        uint32_t at = kHeader;
        for (uint32_t seed : functions_) {
            functionAt.push_back(at);
            at = Align(at + BodyLength(seed), 16);
        }
        const uint32_t codeEnd = Align(at, 4096);
        at = codeEnd;
        for (uint32_t seed : strings_) {
            stringAt.push_back(at);
            at = Align(at + uint32_t(Text(seed).size()) + 1, 4);
        }
        const uint32_t tableAt = Align(at, 4096);
        const uint32_t dataAt = Align(tableAt + 4 * uint32_t(functions_.size()), 4096);
        const uint32_t end = dataAt + uint32_t(double(dataAt) * zeroShare_ / (1 - zeroShare_));

        std::vector<uint8_t> out(Align(end, 512), 0);
        std::memcpy(out.data(), "MZ", 2);
        Put(out, 0x3C, 0x80);
        std::memcpy(out.data() + 0x80, "PE\0\0\x4C\x01", 6);
        Put(out, 0x80 + 0x50, uint32_t(out.size()));
        for (size_t f = 0; f < functions_.size(); ++f) {
            std::fill(out.begin() + functionAt[f], out.begin() + (f + 1 < functions_.size() ? functionAt[f + 1] : codeEnd),
                      uint8_t(0xCC));
            Body(functions_[f], functionAt[f], functionAt, stringAt, out);
        }
        for (size_t s = 0; s < strings_.size(); ++s) {
            const std::string text = Text(strings_[s]);
            std::memcpy(out.data() + stringAt[s], text.data(), text.size());
        }
        for (size_t f = 0; f < functions_.size(); ++f) Put(out, tableAt + 4 * uint32_t(f), kImageBase + functionAt[f]);
        // Initialised data: a few counters and pointers among the zeros.
        for (uint32_t d = dataAt, i = 0; d + 4 <= end; d += 64 + (i * 37) % 448, ++i)
            Put(out, d, i % 3 ? i : kImageBase + functionAt[i % functions_.size()]);
        return out;
    }

private:
    static constexpr uint32_t kHeader = 0x1000, kImageBase = 0x400000;

    static uint32_t Align(uint32_t value, uint32_t step) { return (value + step - 1) / step * step; }
    static void Put(std::vector<uint8_t>& out, uint32_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(value >> (8 * i));
    }
    static uint32_t BodyLength(uint32_t seed) { return 24 + seed % 360; }

    static std::string Text(uint32_t seed) {
        static const char* const words[] = {"Cannot ", "open ", "file ", "%s ", "map ", "unit ", "error ", "player ",
                                            "castle ", "load ", "save ", "game ", "version ", "data\\", ".wdt", "%d "};
        std::string text;
        for (uint32_t n = 2 + seed % 9, x = seed; n--; x = x * 1103515245u + 12345u) text += words[(x >> 16) % 16];
        return text;
    }

    // A function's code from its seed: a prologue, pattern after pattern
    // (calls and string addresses pointing where those now lie), an epilogue.
    void Body(uint32_t seed, uint32_t at, const std::vector<uint32_t>& functionAt,
              const std::vector<uint32_t>& stringAt, std::vector<uint8_t>& out) const {
        const uint32_t end = at + BodyLength(seed) - 3;
        uint32_t x = seed;
        auto next = [&x]() { return (x = x * 1664525u + 1013904223u) >> 8; };
        auto emit = [&](std::initializer_list<uint8_t> bytes) {
            for (uint8_t b : bytes)
                if (at < end) out[at++] = b;
        };
        emit({0x55, 0x8B, 0xEC, 0x83, 0xEC, uint8_t(4 * (1 + next() % 16))});
        while (at + 6 < end) {
            const uint32_t pick = next();
            switch (pick % 8) {
            case 0: {
                const uint32_t target = functionAt[pick / 8 % functionAt.size()] - (at + 5);
                emit({0xE8, uint8_t(target), uint8_t(target >> 8), uint8_t(target >> 16), uint8_t(target >> 24)});
                break;
            }
            case 1: {
                if (stringAt.empty()) break;
                const uint32_t text = kImageBase + stringAt[pick / 8 % stringAt.size()];
                emit({0x68, uint8_t(text), uint8_t(text >> 8), uint8_t(text >> 16), uint8_t(text >> 24)});
                break;
            }
            case 2: emit({0x8B, 0x45, uint8_t(8 + 4 * (pick / 8 % 6))}); break;
            case 3: emit({0x89, 0x45, uint8_t(0xF0 + 4 * (pick / 8 % 4))}); break;
            case 4: emit({0x85, 0xC0, 0x74, uint8_t(pick / 8 % 40)}); break;
            case 5: emit({0x83, 0xC4, uint8_t(4 * (pick / 8 % 5))}); break;
            case 6: emit({0x8B, 0x4D, 0xFC, 0x50, 0x51}); break;
            default: emit({0x33, 0xC0, 0x40}); break;
            }
        }
        at = end;
        out[at] = 0x8B;
        out[at + 1] = 0xE5;
        out[at + 2] = 0xC3;  // mov esp, ebp; ret (the pop folded in)
    }

    uint32_t Next() { return uint32_t(rng_()); }
    size_t Estimate(size_t code) const {
        return size_t(double(kHeader + code + 24 * strings_.size() + 4 * functions_.size()) / (1 - zeroShare_));
    }

    std::mt19937 rng_;
    double zeroShare_;
    std::vector<uint32_t> functions_, strings_;
};

}  // namespace testdata

// Finds the old file a new one was renamed or moved from.
#include "MovedSource.h"

#include "PatchSources.h"
#include "VersionDiff.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <iterator>

namespace {

constexpr size_t kSamplesPerFile = 4096;

// A random value per byte, the same in every run.
const std::array<uint32_t, 256>& GearTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> values{};
        uint64_t state = 0x9E3779B97F4A7C15ull;
        for (uint32_t& value : values) {
            state += 0x9E3779B97F4A7C15ull;
            uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            value = static_cast<uint32_t>(z ^ (z >> 31));
        }
        return values;
    }();
    return table;
}

// The file name, and the extension with the stem's letters (digits, dots,
// dashes, underscores, blanks and a "v" before a digit dropped: "units-1.4",
// "units_v2" and "units" are one stem), both folded; the stem key is empty
// when nothing is left of it.
void NameKeys(const std::string& relative, std::string* name, std::string* stem)
{
    *name = Folded(relative.substr(relative.find_last_of('/') + 1));
    const size_t dot = name->rfind('.');
    const std::string base = name->substr(0, dot);
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::string letters;
    for (size_t i = 0; i < base.size(); ++i) {
        const char c = base[i];
        const bool versionMark = (c == 'v' || c == 'V') && i + 1 < base.size() && digit(base[i + 1]);
        if (!digit(c) && !versionMark && c != '.' && c != '-' && c != '_' && c != ' ')
            letters += c;
    }
    *stem = letters.empty() ? "" : (dot == std::string::npos ? "" : name->substr(dot)) + "|" + letters;
}

size_t Common(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    size_t count = 0;
    for (auto i = a.begin(), j = b.begin(); i != a.end() && j != b.end();) {
        if (*i < *j)
            ++i;
        else if (*j < *i)
            ++j;
        else
            ++count, ++i, ++j;
    }
    return count;
}

} // namespace

std::vector<uint32_t> ContentSamples(const uint8_t* bytes, size_t size, uint32_t sampleEvery)
{
    // The rolling hash's top bits depend on all of its last 32 bytes.
    const std::array<uint32_t, 256>& gear = GearTable();
    uint32_t bits = 0;
    while ((1u << bits) < sampleEvery)
        ++bits;
    const uint32_t mask = bits ? ~0u << (32 - bits) : 0;
    std::vector<uint32_t> samples;
    uint32_t hash = 0;
    for (size_t i = 0; i < size; ++i) {
        hash = (hash << 1) + gear[bytes[i]];
        if (i >= 31 && (hash & mask) == 0)
            samples.push_back(hash);
    }
    std::sort(samples.begin(), samples.end());
    samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
    return samples;
}

MovedSources::MovedSources(std::vector<MovedCandidate> candidates) : all_(std::move(candidates))
{
    for (size_t i = 0; i < all_.size(); ++i) {
        std::string name, stem;
        NameKeys(all_[i].relative, &name, &stem);
        names_.push_back(name);
        byName_[name].push_back(i);
        if (!stem.empty())
            byStem_[stem].push_back(i);
    }
    const auto bySize = [this](size_t a, size_t b) { return all_[a].size < all_[b].size; };
    for (auto& [key, list] : byName_)
        std::sort(list.begin(), list.end(), bySize);
    for (auto& [key, list] : byStem_)
        std::sort(list.begin(), list.end(), [this](size_t a, size_t b) { return names_[a] < names_[b]; });
}

const MovedCandidate* MovedSources::Find(const std::string& relative, const std::string& newPath) const
{
    std::string name, stem;
    NameKeys(relative, &name, &stem);
    const uint64_t size = std::filesystem::file_size(newPath);
    const auto near = [&](uint64_t other) { return other <= 2 * size && size <= 2 * other; };
    std::vector<size_t> chosen;
    const auto choose = [&](size_t i) {
        if (near(all_[i].size) && std::find(chosen.begin(), chosen.end(), i) == chosen.end())
            chosen.push_back(i);
    };
    // The same name: the closest sizes, outward from the new size.
    const auto named = byName_.find(name);
    if (named != byName_.end()) {
        const std::vector<size_t>& list = named->second;
        auto above = std::lower_bound(list.begin(), list.end(), size,
                                      [this](size_t i, uint64_t s) { return all_[i].size < s; });
        auto below = above;
        for (size_t n = 0; n < kMovedSampled && (above != list.end() || below != list.begin()); ++n) {
            const bool up = below == list.begin() ||
                            (above != list.end() && all_[*above].size - size <= size - all_[*std::prev(below)].size);
            choose(up ? *above++ : *--below);
        }
    }
    // The same stem: the neighbours of the new file's name in name order,
    // which share the longest beginnings with it (engine-1.2 beside
    // engine-1.3), in whatever folder.
    const auto alike = stem.empty() ? byStem_.end() : byStem_.find(stem);
    if (alike != byStem_.end()) {
        const std::vector<size_t>& list = alike->second;
        const auto at = std::lower_bound(list.begin(), list.end(), name,
                                         [this](size_t i, const std::string& s) { return names_[i] < s; });
        const size_t middle = size_t(at - list.begin());
        for (size_t i = middle > kMovedSampled / 2 ? middle - kMovedSampled / 2 : 0;
             i < list.size() && i < middle + kMovedSampled / 2; ++i)
            choose(list[i]);
    }
    if (chosen.empty())
        return nullptr;
    const std::vector<uint8_t> neu = ReadSourceFile(newPath);
    uint32_t every = 64;
    while (every < size / kSamplesPerFile)
        every *= 2;
    const std::vector<uint32_t> mine = ContentSamples(neu.data(), neu.size(), every);
    if (mine.empty())
        return &all_[chosen.front()];
    const MovedCandidate* best = nullptr;
    size_t bestCommon = 0;
    for (size_t i : chosen) {
        const std::vector<uint8_t> old = ReadSourceFile(all_[i].path);
        const size_t common = Common(mine, ContentSamples(old.data(), old.size(), every));
        if (common > bestCommon)
            best = &all_[i], bestCommon = common;
    }
    return best;
}

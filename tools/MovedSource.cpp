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
// dashes, underscores and blanks dropped), both folded; the stem key is
// empty when nothing is left of it.
void NameKeys(const std::string& relative, std::string* name, std::string* stem)
{
    *name = Folded(relative.substr(relative.find_last_of('/') + 1));
    const size_t dot = name->rfind('.');
    std::string letters;
    for (char c : name->substr(0, dot))
        if (!(c >= '0' && c <= '9') && c != '.' && c != '-' && c != '_' && c != ' ')
            letters += c;
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
        byName_[name].push_back(i);
        if (!stem.empty())
            byStem_[stem].push_back(i);
    }
    for (auto* index : {&byName_, &byStem_})
        for (auto& [key, list] : *index)
            std::sort(list.begin(), list.end(), [this](size_t a, size_t b) { return all_[a].size < all_[b].size; });
}

const MovedCandidate* MovedSources::Find(const std::string& relative, const std::string& newPath) const
{
    std::string name, stem;
    NameKeys(relative, &name, &stem);
    const uint64_t size = std::filesystem::file_size(newPath);
    const auto near = [&](uint64_t other) { return other <= 2 * size && size <= 2 * other; };
    // The closest sizes of a list in order of size, outward from the new size.
    std::vector<size_t> chosen;
    const auto take = [&](const std::map<std::string, std::vector<size_t>>& index, const std::string& key) {
        const auto found = key.empty() ? index.end() : index.find(key);
        if (found == index.end())
            return;
        const std::vector<size_t>& list = found->second;
        auto above = std::lower_bound(list.begin(), list.end(), size,
                                      [this](size_t i, uint64_t s) { return all_[i].size < s; });
        auto below = above;
        // A side ends at its first size out of range: those past it are too.
        bool upOpen = true, downOpen = true;
        while (chosen.size() < kMovedSampled) {
            upOpen = upOpen && above != list.end() && near(all_[*above].size);
            downOpen = downOpen && below != list.begin() && near(all_[*std::prev(below)].size);
            if (!upOpen && !downOpen)
                break;
            const bool up =
                upOpen && (!downOpen || all_[*above].size - size <= size - all_[*std::prev(below)].size);
            const size_t i = up ? *above++ : *--below;
            if (std::find(chosen.begin(), chosen.end(), i) == chosen.end())
                chosen.push_back(i);
        }
    };
    take(byName_, name);
    take(byStem_, stem);
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

// Greedy LZSS coder (stream format in LzssFormat.h). The last 2^O - 1
// positions are kept in a binary search tree ordered by the bytes that
// follow them; a lookup walks it once and meets the nearest smaller and
// nearest greater string, one of which shares the longest prefix.
#include <cstring>

#include "payload/LzssFormat.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint16_t kNil = 0xFFFF;
constexpr uint16_t kNotInTree = 0xFFFE;

// Tree nodes live in a ring of W slots: position p sits in slot p mod W.
// The tree never holds more than W - 1 positions, so a slot is always free
// by the time its next position enters.
struct Tree {
    uint32_t* position;
    uint16_t* left;
    uint16_t* right;
    uint16_t* parent;  // kNil for the root, kNotInTree for a free slot
    uint16_t root;
};

struct Match {
    uint32_t length;
    uint32_t position;
};

// Puts slot to in the tree place of slot from.
void TakePlace(Tree& tree, uint16_t from, uint16_t to) {
    uint16_t up = tree.parent[from];
    tree.parent[to] = up;
    tree.left[to] = tree.left[from];
    tree.right[to] = tree.right[from];
    if (tree.left[to] != kNil) tree.parent[tree.left[to]] = to;
    if (tree.right[to] != kNil) tree.parent[tree.right[to]] = to;
    if (up == kNil) tree.root = to;
    else if (tree.left[up] == from) tree.left[up] = to;
    else tree.right[up] = to;
    tree.parent[from] = kNotInTree;
}

// Replaces slot node by child (which may be kNil) under node's parent.
void ReplaceChild(Tree& tree, uint16_t node, uint16_t child) {
    uint16_t up = tree.parent[node];
    if (child != kNil) tree.parent[child] = up;
    if (up == kNil) tree.root = child;
    else if (tree.left[up] == node) tree.left[up] = child;
    else tree.right[up] = child;
}

void Remove(Tree& tree, uint16_t node) {
    if (tree.parent[node] == kNotInTree) return;
    if (tree.left[node] == kNil) {
        ReplaceChild(tree, node, tree.right[node]);
    } else if (tree.right[node] == kNil) {
        ReplaceChild(tree, node, tree.left[node]);
    } else {
        // Two children: the rightmost node of the left subtree takes its place.
        uint16_t last = tree.left[node];
        while (tree.right[last] != kNil) last = tree.right[last];
        ReplaceChild(tree, last, tree.left[last]);
        TakePlace(tree, node, last);
    }
    tree.parent[node] = kNotInTree;
}

// Looks up the string at i (compareLength bytes) among the tree's positions
// and enters i. An equal string's node is taken over by i, so the tree
// keeps the most recent position of each string. While every position in
// the tree still has compareLength bytes after it (the whole block but its
// last M - 1 positions), the tree is ordered by exactly those bytes, and
// all strings between the nearest smaller and greater share the shorter of
// their two prefixes with the key: comparisons start there.
Match FindAndInsert(Tree& tree, const uint8_t* source, uint32_t i, uint32_t compareLength, bool shortKeys,
                    uint16_t slot) {
    tree.left[slot] = tree.right[slot] = kNil;
    Match smaller = {0, 0}, greater = {0, 0};
    uint16_t node = tree.root, up = kNil;
    bool wentLeft = false;
    const uint8_t* key = source + i;
    while (node != kNil) {
        const uint8_t* other = source + tree.position[node];
        uint32_t c = shortKeys ? 0 : (smaller.length < greater.length ? smaller.length : greater.length);
        while (c < compareLength && other[c] == key[c]) ++c;
        if (c == compareLength) {
            Match equal = {c, tree.position[node]};
            TakePlace(tree, node, slot);
            return equal;
        }
        up = node;
        if (key[c] < other[c]) {
            greater = {c, tree.position[node]};
            node = tree.left[node];
            wentLeft = true;
        } else {
            smaller = {c, tree.position[node]};
            node = tree.right[node];
            wentLeft = false;
        }
    }
    tree.parent[slot] = up;
    if (up == kNil) tree.root = slot;
    else if (wentLeft) tree.left[up] = slot;
    else tree.right[up] = slot;
    return smaller.length >= greater.length ? smaller : greater;
}

// Most significant bit first into the destination, a byte at a time.
struct BitWriter {
    uint8_t* out;
    uint32_t used;
    uint32_t capacity;
    uint64_t pending;
    unsigned pendingBits;

    bool Put(uint32_t value, unsigned bits) {
        pending = (pending << bits) | value;
        pendingBits += bits;
        while (pendingBits >= 8) {
            if (used == capacity) return false;
            pendingBits -= 8;
            out[used++] = uint8_t(pending >> pendingBits);
        }
        return true;
    }
    bool Finish() {
        if (pendingBits == 0) return true;
        if (used == capacity) return false;
        out[used++] = uint8_t(pending << (8 - pendingBits));
        pendingBits = 0;
        return true;
    }
};

}  // namespace

ErrorCode EncodeBlock(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t* destinationLength, uint8_t bitLengths, const uint8_t* reference) {
    if (!LzssBitLengthsSupported(bitLengths)) return ERR_NOSUCHBITLENGTHS;
    const unsigned offsetBits = LzssOffsetBits(bitLengths), lengthBits = LzssLengthBits(bitLengths);
    const uint32_t window = 1u << offsetBits;
    const uint32_t maxMatch = (1u << lengthBits) + 1;
    const unsigned matchBits = 1 + offsetBits + lengthBits;

    BitWriter writer = {destination, 0, *destinationLength, 0, 0};
    if (sourceLength == 0) {
        *destinationLength = 0;
        return nullptr;
    }

    const uint32_t bytes = window * (sizeof(uint32_t) + 3 * sizeof(uint16_t));
    auto* memory = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(bytes));
    if (!memory) return ERR_NOTENOUGHMEM;
    Tree tree;
    tree.position = reinterpret_cast<uint32_t*>(memory);
    tree.left = reinterpret_cast<uint16_t*>(memory + window * sizeof(uint32_t));
    tree.right = tree.left + window;
    tree.parent = tree.right + window;
    tree.root = kNil;
    for (uint32_t s = 0; s < window; ++s) tree.parent[s] = kNotInTree;

    ErrorCode result = nullptr;
    uint32_t i = 0;
    while (i < sourceLength) {
        const uint32_t remaining = sourceLength - i;
        const uint32_t compareLength = remaining < maxMatch ? remaining : maxMatch;
        const uint16_t slot = uint16_t(i & (window - 1));
        tree.position[slot] = i;
        Match match = FindAndInsert(tree, source, i, compareLength, compareLength < maxMatch, slot);
        if (i >= window - 1) Remove(tree, uint16_t((i + 1) & (window - 1)));  // position i - (W - 1)
        if (i == 0) match.length = 0;  // the first byte is always a literal

        bool skip = false;
        if (reference && i > 0 && reference[i] == source[i]) {
            uint32_t same = 1;
            while (same < compareLength && reference[i + same] == source[i + same]) ++same;
            if (same > match.length) {
                match.length = same;
                skip = true;
            }
        }

        bool fits;
        if (match.length >= 2) {
            uint32_t field = skip ? 0 : window - (i - match.position);
            fits = writer.Put((field << lengthBits) | (match.length - 2), matchBits);
        } else {
            match.length = 1;
            fits = writer.Put(0x100u | source[i], 9);
        }
        if (!fits) {
            result = ERR_BUFFERTOOSMALL;
            break;
        }
        // Every position the token covers enters the tree.
        for (uint32_t end = i + match.length; ++i < end;) {
            const uint32_t left = sourceLength - i;
            const uint32_t length = left < maxMatch ? left : maxMatch;
            const uint16_t next = uint16_t(i & (window - 1));
            tree.position[next] = i;
            FindAndInsert(tree, source, i, length, length < maxMatch, next);
            if (i >= window - 1) Remove(tree, uint16_t((i + 1) & (window - 1)));
        }
    }
    if (!result && !writer.Finish()) result = ERR_BUFFERTOOSMALL;
    g_pDefaultPtrPool->Free(memory);
    if (!result) *destinationLength = writer.used;
    return result;
}

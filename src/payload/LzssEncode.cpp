// Greedy LZSS coder (stream format in LzssFormat.h). The last 2^O - 1
// positions are kept in a binary search tree ordered by the bytes that
// follow them; a lookup walks it once and meets the nearest smaller and
// nearest greater string, one of which shares the longest prefix.
//
// The tree is kept as a forest: one tree per value of a string's first two
// bytes, each a contiguous range of the whole tree's order. A match needs
// two equal bytes, so the nearest neighbours that can give one are always in
// the key's own tree, and the answers are those of the single tree, from
// far shorter walks.
#include <cstring>
#include <type_traits>

#include "payload/LzssFormat.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint16_t kNil = 0xFFFF;
constexpr uint16_t kNotInTree = 0xFFFE;

// Tree nodes live in a ring of W slots: position p sits in slot p mod W.
// The tree never holds more than W - 1 positions, so a slot is always free
// by the time its next position enters. child[0] is a node's left child,
// child[1] its right one, so a walk picks its way without a branch.
constexpr uint32_t kRoots = 0x10000;

// Each node keeps its links, its tree (the first two bytes of its string)
// and the string's next bytes as one big-endian word, so most walk steps
// decide their turn from the node record alone. Its position follows from
// its slot: the latest position in slot s before i is i - ((i - s) mod W).
struct alignas(16) Node {
    uint64_t prefix;    // bytes 2 .. 2 + P - 1 of the string, high byte first, rest 0
    uint16_t child[2];  // left, right
    uint16_t parent;    // kNil for a root, kNotInTree for a free slot
    uint16_t pair;      // first two bytes, the index of the node's root
};

struct Tree {
    Node* nodes;
    uint16_t* roots;  // by the first two bytes of the strings

    uint16_t& Left(uint16_t s) { return nodes[s].child[0]; }
    uint16_t& Right(uint16_t s) { return nodes[s].child[1]; }
    uint16_t& Parent(uint16_t s) { return nodes[s].parent; }
    // The link that holds node: its parent's child entry, or its tree's
    // root. Chosen by selects, not branches: which one it is follows no
    // pattern a predictor could learn.
    uint16_t& LinkTo(uint16_t node) {
        const uint16_t up = Parent(node);
        const uint16_t readable = up == kNil ? node : up;
        uint16_t* child = &nodes[readable].child[nodes[readable].child[1] == node];
        return *(up == kNil ? &roots[nodes[node].pair] : child);
    }
};

struct Match {
    uint32_t length;
    uint32_t position;
};

// Parent updates of a child that may be kNil go to a stand-in slot instead,
// one whose parent entry is rewritten afterwards, so they need no branch.

// Puts slot to in the tree place of slot from.
void TakePlace(Tree& tree, uint16_t from, uint16_t to) {
    tree.LinkTo(from) = to;
    const uint16_t left = tree.Left(from), right = tree.Right(from);
    tree.Parent(to) = tree.Parent(from);
    tree.Left(to) = left;
    tree.Right(to) = right;
    tree.Parent(left != kNil ? left : from) = to;
    tree.Parent(right != kNil ? right : from) = to;
    tree.Parent(from) = kNotInTree;
}

// Replaces slot node by child (which may be kNil) under node's parent. The
// caller rewrites node's parent entry afterwards.
void ReplaceByChild(Tree& tree, uint16_t node, uint16_t child) {
    tree.LinkTo(node) = child;
    tree.Parent(child != kNil ? child : node) = tree.Parent(node);
}

void Remove(Tree& tree, uint16_t node) {
    if (tree.Parent(node) == kNotInTree) return;
    const uint16_t left = tree.Left(node), right = tree.Right(node);
    if (left == kNil || right == kNil) {
        ReplaceByChild(tree, node, left == kNil ? right : left);
    } else {
        // Two children: the rightmost node of the left subtree takes its place.
        uint16_t last = tree.Left(node);
        while (tree.Right(last) != kNil) last = tree.Right(last);
        ReplaceByChild(tree, last, tree.Left(last));
        TakePlace(tree, node, last);
    }
    tree.Parent(node) = kNotInTree;
}

inline uint64_t Load64(const uint8_t* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
}

// Index of the first differing byte of two words loaded from memory.
inline uint32_t FirstDifference(uint64_t difference) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return uint32_t(__builtin_clzll(difference)) / 8;
#else
    return uint32_t(__builtin_ctzll(difference)) / 8;
#endif
}

// Bytes from c on that a and b share, up to limit. Whole words are compared
// while wordLimit (bytes readable after both) allows.
inline uint32_t Extend(const uint8_t* a, const uint8_t* b, uint32_t c, uint32_t limit, uint32_t wordLimit) {
    while (c + 8 <= wordLimit) {
        uint64_t difference = Load64(a + c) ^ Load64(b + c);
        if (difference) {
            c += FirstDifference(difference);
            return c < limit ? c : limit;
        }
        c += 8;
        if (c >= limit) return limit;
    }
    while (c < limit && a[c] == b[c]) ++c;
    return c;
}

// Eight bytes at p as a number whose order is the bytes' order.
inline uint64_t LoadBigEndian64(const uint8_t* at) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return Load64(at);
#else
    return __builtin_bswap64(Load64(at));
#endif
}

// The node prefix of the string at key: its bytes 2 .. 2 + prefixBytes - 1
// high byte first, zeros after. readable counts the bytes from key on.
inline uint64_t PrefixOf(const uint8_t* key, uint32_t readable, uint32_t prefixBytes) {
    uint64_t word = 0;
    if (readable >= 10) {
        word = LoadBigEndian64(key + 2);
    } else {
        for (uint32_t k = 0; k < 8 && 2 + k < readable; ++k) word |= uint64_t(key[2 + k]) << (56 - 8 * k);
    }
    return prefixBytes >= 8 ? word : word & ~(~0ull >> (8 * prefixBytes));
}

// Looks up the string at i (compareLength bytes) among the tree's positions
// and enters i. An equal string's node is taken over by i, so the tree
// keeps the most recent position of each string. While every position in
// the tree still has compareLength bytes after it (the whole block but its
// last M - 1 positions), the tree is ordered by exactly those bytes, and
// all strings between the nearest smaller and greater share the shorter of
// their two prefixes with the key: comparisons start there.
Match FindAndInsertShort(Tree& tree, const uint8_t* source, uint32_t sourceLength, uint32_t i,
                         uint32_t compareLength, uint32_t window, uint16_t slot) {
    tree.Left(slot) = tree.Right(slot) = kNil;
    // The nearest smaller and greater strings met, and their shared lengths.
    uint32_t smallerLength = 0, smallerAt = 0, greaterLength = 0, greaterAt = 0;
    uint16_t* link = &tree.roots[tree.nodes[slot].pair];
    uint16_t node = *link, up = kNil;
    const uint8_t* key = source + i;
    const uint32_t readable = sourceLength - i;  // the key is the latest string: others have more
    while (node != kNil) {
        const uint32_t at = i - ((i - node) & (window - 1));
        const uint8_t* other = source + at;
        uint32_t c = Extend(key, other, 0, compareLength, readable);
        if (c == compareLength) {
            TakePlace(tree, node, slot);
            return {c, at};
        }
        const unsigned right = key[c] > other[c];
        smallerLength = right ? c : smallerLength;
        smallerAt = right ? at : smallerAt;
        greaterLength = right ? greaterLength : c;
        greaterAt = right ? greaterAt : at;
        up = node;
        link = &tree.nodes[node].child[right];
        node = *link;
    }
    tree.Parent(slot) = up;
    *link = slot;
    if (smallerLength >= greaterLength) return {smallerLength, smallerAt};
    return {greaterLength, greaterAt};
}

// The same for a key of the full M bytes, when every node's prefix holds
// bytes 2 .. 2 + P - 1 of its string (P = min(8, M - 2)) and every string
// in the key's tree shares the key's first two bytes. A differing prefix
// gives the shared length and the turn at once; only an equal one reads
// the strings, from byte 2 + P or the known shared length on.
// Without lookup the walk only enters the key: the turns, and so the tree,
// are the same, but no shared lengths are kept.
template <bool lookup>
Match FindAndInsertFull(Tree& tree, const uint8_t* source, uint32_t sourceLength, uint32_t i, uint32_t maxMatch,
                        uint32_t prefixBytes, uint32_t window, uint16_t slot) {
    Node& entered = tree.nodes[slot];
    entered.child[0] = entered.child[1] = kNil;
    const uint64_t keyPrefix = entered.prefix;
    // Nodes, not positions, are tracked: the position is worked out once.
    uint32_t smallerLength = 0, greaterLength = 0;
    uint16_t smallerNode = 0, greaterNode = 0;
    uint16_t node = tree.roots[entered.pair], up = kNil;
    unsigned lastTurn = 0;
    const uint8_t* key = source + i;
    const uint32_t readable = sourceLength - i;
    const uint32_t prefixEnd = 2 + prefixBytes;
    const auto positionOf = [&](uint16_t s) { return i - ((i - s) & (window - 1)); };
    while (node != kNil) {
        const Node& here = tree.nodes[node];
        const uint64_t nodePrefix = here.prefix;
        // Both children are read with the prefix, so the next node does not
        // wait for a second load once the turn is known.
        const uint16_t left = here.child[0], rightChild = here.child[1];
        const uint64_t difference = keyPrefix ^ nodePrefix;
        uint32_t c;
        unsigned right;
        if (difference) {
            c = 2 + uint32_t(__builtin_clzll(difference)) / 8;
            right = keyPrefix > nodePrefix;
        } else {
            const uint8_t* other = source + positionOf(node);
            uint32_t known = smallerLength < greaterLength ? smallerLength : greaterLength;
            c = Extend(key, other, lookup && known > prefixEnd ? known : prefixEnd, maxMatch, readable);
            if (c == maxMatch) {
                TakePlace(tree, node, slot);
                return {c, positionOf(node)};
            }
            right = key[c] > other[c];
        }
        if (lookup) {
            smallerLength = right ? c : smallerLength;
            smallerNode = right ? node : smallerNode;
            greaterLength = right ? greaterLength : c;
            greaterNode = right ? greaterNode : node;
        }
        up = node;
        lastTurn = right;
        node = right ? rightChild : left;
    }
    entered.parent = up;
    *(up == kNil ? &tree.roots[entered.pair] : &tree.nodes[up == kNil ? slot : up].child[lastTurn]) = slot;
    if (smallerLength >= greaterLength) return {smallerLength, smallerLength ? positionOf(smallerNode) : 0};
    return {greaterLength, positionOf(greaterNode)};
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

uint32_t LzssEncoderScratchSize(uint8_t bitLengths) {
    if (!LzssBitLengthsSupported(bitLengths)) return 0;
    return (1u << LzssOffsetBits(bitLengths)) * uint32_t(sizeof(Node)) + kRoots * uint32_t(sizeof(uint16_t));
}

ErrorCode EncodeBlock(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t* destinationLength, uint8_t bitLengths, const uint8_t* reference) {
    if (!LzssBitLengthsSupported(bitLengths)) return ERR_NOSUCHBITLENGTHS;
    if (sourceLength == 0) return EncodeBlockWithScratch(source, 0, destination, destinationLength, bitLengths,
                                                         reference, nullptr);
    auto* memory = g_pDefaultPtrPool->Alloc(LzssEncoderScratchSize(bitLengths));
    if (!memory) return ERR_NOTENOUGHMEM;
    ErrorCode result =
        EncodeBlockWithScratch(source, sourceLength, destination, destinationLength, bitLengths, reference, memory);
    g_pDefaultPtrPool->Free(memory);
    return result;
}

ErrorCode EncodeBlockWithScratch(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                                 uint32_t* destinationLength, uint8_t bitLengths, const uint8_t* reference,
                                 void* scratch) {
    if (!LzssBitLengthsSupported(bitLengths)) return ERR_NOSUCHBITLENGTHS;
    const unsigned offsetBits = LzssOffsetBits(bitLengths), lengthBits = LzssLengthBits(bitLengths);
    const uint32_t window = 1u << offsetBits;
    const uint32_t maxMatch = (1u << lengthBits) + 1;
    const unsigned matchBits = 1 + offsetBits + lengthBits;
    const uint32_t prefixBytes = maxMatch - 2 < 8 ? maxMatch - 2 : 8;

    BitWriter writer = {destination, 0, *destinationLength, 0, 0};
    if (sourceLength == 0) {
        *destinationLength = 0;
        return nullptr;
    }

    if (!scratch) return ERR_BADPARAMS;
    auto* memory = static_cast<uint8_t*>(scratch);
    Tree tree;
    tree.nodes = reinterpret_cast<Node*>(memory);
    tree.roots = reinterpret_cast<uint16_t*>(memory + window * sizeof(Node));
    for (uint32_t s = 0; s < window; ++s) tree.Parent(s) = kNotInTree;
    std::memset(tree.roots, 0xFF, kRoots * sizeof(uint16_t));  // all kNil

    // Enters position i, dropping position i - (W - 1), and answers the
    // lookup that came first. The last position has no two-byte string and
    // no lookup after it: it stays out.
    auto enter = [&](uint32_t i, auto lookup) -> Match {
        const uint32_t remaining = sourceLength - i;
        if (remaining < 2) return {0, 0};
        const uint32_t compareLength = remaining < maxMatch ? remaining : maxMatch;
        const uint16_t slot = uint16_t(i & (window - 1));
        Node& entered = tree.nodes[slot];
        entered.pair = uint16_t(uint32_t(source[i]) << 8 | source[i + 1]);
        entered.prefix = PrefixOf(source + i, remaining, prefixBytes);
        Match found = compareLength < maxMatch
                          ? FindAndInsertShort(tree, source, sourceLength, i, compareLength, window, slot)
                          : FindAndInsertFull<decltype(lookup)::value>(tree, source, sourceLength, i, maxMatch,
                                                                             prefixBytes, window, slot);
        if (i >= window - 1) Remove(tree, uint16_t((i + 1) & (window - 1)));
        return found;
    };

    ErrorCode result = nullptr;
    uint32_t i = 0;
    while (i < sourceLength) {
        const uint32_t remaining = sourceLength - i;
        const uint32_t compareLength = remaining < maxMatch ? remaining : maxMatch;
        Match match = enter(i, std::true_type());
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
        for (uint32_t end = i + match.length; ++i < end;) enter(i, std::false_type());
    }
    if (!result && !writer.Finish()) result = ERR_BUFFERTOOSMALL;
    if (!result) *destinationLength = writer.used;
    return result;
}

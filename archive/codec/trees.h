// The block coder: the back half of the Deflate compressor.
//
// The matcher hands it one symbol at a time (a literal byte, or a match of length 3..258 at distance
// 1..32506). The coder keeps the block's symbols and their frequencies, tells the matcher when the block
// should end (32767 symbols, or earlier at a multiple of 4096 symbols above level 2 when a rough estimate
// says the block compresses to less than half), and on each flush builds the Huffman trees and writes the
// block in the cheapest of stored, fixed and dynamic form (RFC 1951 3.2.4-3.2.7). An entry whose single
// block would not get smaller is written raw without any block header and switched to method 0
// (whole-entry store); the first block of an entry also decides whether it is text or binary.
//
// Every choice here (tie-breaking in the heap, the order nodes are numbered, how over-long codes are
// repaired, the run rules of the code-length code) shapes the output bytes, which must be the same on every
// build: they follow the one classic construction described beside each function in trees.cpp.
//
// Symbols are kept as one 32-bit word each: literal byte or length - 3 in the low byte, distance (0 for a
// literal) above it. Lengths of bits are counted in 64 bits, so no entry size wraps the bookkeeping.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "archive/codec/bit_writer.h"
#include "archive/codec/deflate_tables.h"

namespace archive::codec {

class BlockCoder {
public:
    static constexpr unsigned kSymbolBuffer = 32768;
    static constexpr unsigned kMaxBlockSymbols = kSymbolBuffer - 1;
    static constexpr unsigned kEstimateInterval = 4096;

    BlockCoder();

    // The symbol buffer lives as long as the matcher's working buffers.
    void AllocateBuffers();
    void ReleaseBuffers();
    bool HasBuffers() const { return !symbols_.empty(); }

    // Start of an entry.
    void Start(DeflateIO& io, int level);
    // What the entry's first block decided (text or binary) and whether the entry was written raw.
    bool Text() const { return text_; }
    bool StoredWhole() const { return storedWhole_; }

    // Record symbol. Returns true when the block should end now. `pos` and `blockStart` are the matcher's
    // current position and block start, for the estimate rule.
    bool RecordLiteral(uint8_t c, uint32_t pos, int32_t blockStart) {
        symbols_[count_] = c;
        litFreq_[c]++;
        return AfterRecord(pos, blockStart);
    }
    bool RecordMatch(uint32_t distance, uint32_t length, uint32_t pos, int32_t blockStart) {
        const uint32_t lc = length - 3;
        symbols_[count_] = lc | (distance << 8);
        litFreq_[kLiterals + 1 + kLengthCode[lc]]++;
        distFreq_[DistCode(distance - 1)]++;
        matches_++;
        return AfterRecord(pos, blockStart);
    }

    // Flush block: data is the block's raw input while it is still in the window, else nullptr; storedLen
    // is the number of input bytes the block covers. Returns the compressed size so far in bytes.
    uint64_t FlushBlock(const uint8_t* data, int64_t storedLen, bool last);

    // Test hooks: the symbols recorded in the current block, and the sizes behind the last flush's choice.
    unsigned SymbolCount() const { return count_; }
    struct Decision {
        int64_t storedLength;
        uint64_t dynamicBytes;  // dynamic-tree size with header, before the fixed form is considered
        uint64_t staticBytes;   // fixed-tree size with header
    };
    const Decision& LastDecision() const { return decision_; }
    // Compressed length so far in bits.
    uint64_t CompressedBits() const { return compressedBits_; }

private:
    // A tree being built: frequency and code/length per node (codes first, then internal nodes).
    struct TreeDesc;
    struct Node {
        uint32_t freq;
        uint16_t code;
        uint16_t len;  // parent while building, code length afterwards
    };

    bool AfterRecord(uint32_t pos, int32_t blockStart) {
        const unsigned n = ++count_;
        if ((n & (kEstimateInterval - 1)) == 0 || n == kMaxBlockSymbols) return EndBlockNow(pos, blockStart);
        return false;
    }
    bool EndBlockNow(uint32_t pos, int32_t blockStart);

    void StartBlock();
    void BuildTree(Node* tree, const CodeLen* fixed, const uint8_t* extra, int extraBase, int elems, int maxLength,
                   int& maxCode);
    void GenBitLengths(Node* tree, const CodeLen* fixed, const uint8_t* extra, int extraBase, int maxCode,
                       int maxLength);
    void GenCodes(Node* tree, int maxCode);
    void ScanTree(Node* tree, int maxCode);
    void SendTree(Node* tree, int maxCode);
    int BuildBitLengthTree();
    void SendAllTrees(int lcodes, int dcodes, int blcodes);
    template <class LitTable, class DistTable>
    void EncodeBlock(const LitTable& lit, const DistTable& dist);
    void CopyStored(const uint8_t* data, uint32_t len, bool header);

    DeflateIO* io_ = nullptr;
    bool classified_ = false;
    bool text_ = false;
    bool storedWhole_ = false;
    int level_ = 6;
    BitWriter bits_;

    std::vector<uint32_t> symbols_;
    unsigned count_ = 0;    // symbols in the block
    unsigned matches_ = 0;  // of which matches

    std::array<Node, 2 * kLitLenCodes + 1> litTree_{};
    std::array<Node, 2 * kDistCodes + 1> distTree_{};
    std::array<Node, 2 * kBitLenCodes + 1> blTree_{};
    // Symbol frequencies of the block, gathered while recording; copied into the trees at the flush.
    std::array<uint32_t, kLitLenCodes + 2> litFreq_{};
    std::array<uint32_t, kDistCodes> distFreq_{};
    int litMaxCode_ = -1;
    int distMaxCode_ = -1;

    // Heap of node numbers (1-based) and, from the top down, the nodes in the order they leave it.
    std::array<int, 2 * kLitLenCodes + 1> heap_{};
    int heapLen_ = 0;
    int heapMax_ = 0;
    std::array<uint8_t, 2 * kLitLenCodes + 1> depth_{};
    std::array<uint32_t, 2 * kLitLenCodes + 1> sortKey_{};  // frequency << 8 | depth, the heap's order
    std::array<uint16_t, kMaxBits + 1> blCount_{};

    uint64_t optLen_ = 0;     // dynamic-tree estimate of the block in bits
    uint64_t staticLen_ = 0;  // fixed-tree estimate of the block in bits
    uint64_t compressedBits_ = 0;
    Decision decision_{};
};

}  // namespace archive::codec

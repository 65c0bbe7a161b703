// The block coder: block ends, Huffman tree construction and block output. See trees.h for the overview.
//
// Tree construction, in the order a flush runs it:
//   BuildTree      a min-heap of the used codes ordered by (frequency, depth); the two smallest nodes are
//                  merged until one is left, and every node leaves the heap into the top of the heap array,
//                  so that array lists the nodes from least to most frequent with the root last. A tree
//                  needs two codes: missing ones are added with frequency 1.
//   GenBitLengths  lengths from the root down, cut at the limit; a cut tree is repaired by moving leaves
//                  down from the deepest level below the limit, then handing the lengths back out to the
//                  leaves in the order they left the heap (least frequent get the longest codes).
//   GenCodes       canonical codes (RFC 1951 3.2.2), stored bit-reversed for LSB-first output.
//   ScanTree /     the code lengths of both trees, sent with the repeat codes 16/17/18 under the run rules;
//   SendTree       a guard after the last length ends every run.
// Each step also keeps the block's estimated size for dynamic and for fixed trees exact to the bit, so the
// choice between stored, fixed and dynamic form compares real sizes.
#include "archive/codec/trees.h"

#include <algorithm>
#include <cstring>

namespace archive::codec {

namespace {
constexpr int kHeapSize = 2 * kLitLenCodes + 1;
constexpr int kRep3To6 = 16;
constexpr int kRepZero3To10 = 17;
constexpr int kRepZero11To138 = 18;
constexpr uint16_t kGuard = 0xFFFF;
}  // namespace

BlockCoder::BlockCoder() = default;

void BlockCoder::AllocateBuffers() {
    if (symbols_.empty()) symbols_.assign(kSymbolBuffer, 0);
}

void BlockCoder::ReleaseBuffers() {
    symbols_.clear();
    symbols_.shrink_to_fit();
}

void BlockCoder::Start(DeflateIO& io, int level) {
    io_ = &io;
    classified_ = false;
    text_ = false;
    storedWhole_ = false;
    level_ = level;
    bits_.Start(io);
    compressedBits_ = 0;
    StartBlock();
}

void BlockCoder::StartBlock() {
    litFreq_.fill(0);
    distFreq_.fill(0);
    for (auto& n : blTree_) n.freq = 0;
    litFreq_[kEndBlock] = 1;
    optLen_ = 0;
    staticLen_ = 0;
    count_ = 0;
    matches_ = 0;
}

// The estimate rule: at every 4096th symbol above level 2, end the block early when fewer than half of its
// symbols are matches and a rough size (8 bits per symbol plus 5 bits and the extra bits per distance)
// comes to less than half of the input it covers. Otherwise a block ends at its 32767th symbol.
bool BlockCoder::EndBlockNow(uint32_t pos, int32_t blockStart) {
    const unsigned n = count_;
    if (level_ > 2 && (n & (kEstimateInterval - 1)) == 0) {
        uint32_t out = n * 8u;
        for (int dc = 0; dc < kDistCodes; ++dc) out += distFreq_[dc] * (5u + kDistExtra[dc]);
        out >>= 3;
        const int64_t in = static_cast<int64_t>(pos) - blockStart;
        if (matches_ < n / 2 && static_cast<int64_t>(out) < in / 2) return true;
    }
    return n == kMaxBlockSymbols;
}

uint64_t BlockCoder::FlushBlock(const uint8_t* data, int64_t storedLen, bool last) {
    // Only the first block of an entry classifies it: binary when the control and high bytes among its
    // literals outnumber a quarter of the others.
    if (!classified_) {
        classified_ = true;
        uint32_t binary = 0, text = 0;
        for (int n = 0; n < 7; ++n) binary += litFreq_[n];
        for (int n = 7; n < 128; ++n) text += litFreq_[n];
        for (int n = 128; n < kLiterals; ++n) binary += litFreq_[n];
        text_ = !((binary & 0xFFFF) > ((text & 0xFFFF) >> 2));
    }

    for (int n = 0; n < kLitLenCodes; ++n) litTree_[n].freq = litFreq_[n];
    for (int n = 0; n < kDistCodes; ++n) distTree_[n].freq = distFreq_[n];
    BuildTree(litTree_.data(), kFixedLit.data(), kLengthExtra.data(), kLiterals + 1, kLitLenCodes, kMaxBits,
              litMaxCode_);
    BuildTree(distTree_.data(), kFixedDist.data(), kDistExtra.data(), 0, kDistCodes, kMaxBits, distMaxCode_);
    const int maxBlIndex = BuildBitLengthTree();

    uint64_t optBytes = (optLen_ + 3 + 7) >> 3;
    const uint64_t staticBytes = (staticLen_ + 3 + 7) >> 3;
    decision_ = Decision{storedLen, optBytes, staticBytes};
    if (staticBytes <= optBytes) optBytes = staticBytes;

    const int lastBit = last ? 1 : 0;
    if (data != nullptr && last && compressedBits_ == 0 && storedLen <= static_cast<int64_t>(optBytes)) {
        // Whole-entry store: the only block would not get smaller, so the entry keeps its raw bytes and
        // becomes a stored entry. (Without the data in the window the block is coded as below instead.)
        CopyStored(data, static_cast<uint32_t>(storedLen), false);
        compressedBits_ = static_cast<uint64_t>(storedLen) * 8;
        storedWhole_ = true;
    } else if (data != nullptr && storedLen + 4 <= static_cast<int64_t>(optBytes)) {
        bits_.Put(0u + lastBit, 3);
        compressedBits_ = ((compressedBits_ + 3 + 7) & ~uint64_t{7}) + static_cast<uint64_t>(storedLen + 4) * 8;
        CopyStored(data, static_cast<uint32_t>(storedLen), true);
    } else if (staticBytes == optBytes) {
        bits_.Put(2u + lastBit, 3);
        EncodeBlock(kFixedLit, kFixedDist);
        compressedBits_ += 3 + staticLen_;
    } else {
        bits_.Put(4u + lastBit, 3);
        SendAllTrees(litMaxCode_ + 1, distMaxCode_ + 1, maxBlIndex + 1);
        std::array<CodeLen, kLitLenCodes> lit{};
        std::array<CodeLen, kDistCodes> dist{};
        for (int n = 0; n <= litMaxCode_; ++n) lit[n] = CodeLen{litTree_[n].code, static_cast<uint8_t>(litTree_[n].len)};
        for (int n = 0; n <= distMaxCode_; ++n) dist[n] = CodeLen{distTree_[n].code, static_cast<uint8_t>(distTree_[n].len)};
        EncodeBlock(lit, dist);
        compressedBits_ += 3 + optLen_;
    }
    StartBlock();

    if (last) {
        bits_.Align();
        compressedBits_ += 7;
    } else {
        bits_.Pump();
    }
    return compressedBits_ >> 3;
}

void BlockCoder::CopyStored(const uint8_t* data, uint32_t len, bool header) {
    bits_.Align();
    if (header) {
        bits_.Put(len & 0xFFFF, 16);
        bits_.Put(~len & 0xFFFF, 16);
        bits_.Align();
    }
    bits_.WriteRaw(data, len);
}

// ---------------------------------------------------------------------------------------------------------
// Tree construction

void BlockCoder::BuildTree(Node* tree, const CodeLen* fixed, const uint8_t* extra, int extraBase, int elems,
                           int maxLength, int& maxCodeOut) {
    int maxCode = -1;
    heapLen_ = 0;
    heapMax_ = kHeapSize;
    for (int n = 0; n < elems; ++n) {
        if (tree[n].freq != 0) {
            heap_[++heapLen_] = maxCode = n;
            depth_[n] = 0;
        } else {
            tree[n].len = 0;
        }
    }
    // A tree needs at least two codes: add codes of frequency 1, whose cost the estimates cancel.
    while (heapLen_ < 2) {
        const int node = heap_[++heapLen_] = (maxCode < 2 ? ++maxCode : 0);
        tree[node].freq = 1;
        depth_[node] = 0;
        sortKey_[node] = 1u << 8;
        optLen_--;
        if (fixed != nullptr) staticLen_ -= fixed[node].len;
    }
    maxCodeOut = maxCode;

    // Heap order: lower frequency first, and for equal frequencies the shallower node (a node is
    // "smaller or equal" when its frequency is lower, or equal with a depth not greater). Frequency and
    // depth are packed into one sort key per node, so one comparison decides.
    std::array<uint32_t, 2 * kLitLenCodes + 1>& key = sortKey_;
    for (int n = 0; n < elems; ++n)
        if (tree[n].freq != 0) key[n] = tree[n].freq << 8;
    auto downHeap = [&](int k) {
        const int v = heap_[k];
        const uint32_t kv = key[v];
        int j = k << 1;
        while (j <= heapLen_) {
            if (j < heapLen_ && key[heap_[j + 1]] <= key[heap_[j]]) j++;
            if (kv <= key[heap_[j]]) break;
            heap_[k] = heap_[j];
            k = j;
            j <<= 1;
        }
        heap_[k] = v;
    };

    for (int n = heapLen_ / 2; n >= 1; --n) downHeap(n);

    int node = elems;
    do {
        const int n = heap_[1];
        heap_[1] = heap_[heapLen_--];
        downHeap(1);
        const int m = heap_[1];
        heap_[--heapMax_] = n;
        heap_[--heapMax_] = m;
        tree[node].freq = tree[n].freq + tree[m].freq;
        depth_[node] = static_cast<uint8_t>(std::max(depth_[n], depth_[m]) + 1);
        key[node] = tree[node].freq << 8 | depth_[node];
        tree[n].len = tree[m].len = static_cast<uint16_t>(node);  // parent, until lengths are assigned
        heap_[1] = node++;
        downHeap(1);
    } while (heapLen_ >= 2);
    heap_[--heapMax_] = heap_[1];

    GenBitLengths(tree, fixed, extra, extraBase, maxCode, maxLength);
    GenCodes(tree, maxCode);
}

void BlockCoder::GenBitLengths(Node* tree, const CodeLen* fixed, const uint8_t* extra, int extraBase, int maxCode,
                               int maxLength) {
    blCount_.fill(0);
    int overflow = 0;
    tree[heap_[heapMax_]].len = 0;  // the root
    int h = heapMax_ + 1;
    for (; h < kHeapSize; ++h) {
        const int n = heap_[h];
        int bits = tree[tree[n].len].len + 1;
        if (bits > maxLength) {
            bits = maxLength;
            overflow++;
        }
        tree[n].len = static_cast<uint16_t>(bits);
        if (n > maxCode) continue;  // internal node
        blCount_[bits]++;
        const int xbits = n >= extraBase ? extra[n - extraBase] : 0;
        const uint64_t f = tree[n].freq;
        optLen_ += f * static_cast<uint64_t>(bits + xbits);
        if (fixed != nullptr) staticLen_ += f * static_cast<uint64_t>(fixed[n].len + xbits);
    }
    if (overflow == 0) return;

    // Too long codes: take a leaf from the deepest level below the limit and hang it, with one leaf of
    // the limit length, under a new node one level deeper; each step fixes two overflowing leaves.
    do {
        int bits = maxLength - 1;
        while (blCount_[bits] == 0) bits--;
        blCount_[bits]--;
        blCount_[bits + 1] += 2;
        blCount_[maxLength]--;
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths back out, longest first, to the leaves from the least frequent on.
    for (int bits = maxLength; bits != 0; --bits) {
        int n = blCount_[bits];
        while (n != 0) {
            const int m = heap_[--h];
            if (m > maxCode) continue;
            if (tree[m].len != bits) {
                optLen_ += static_cast<uint64_t>(static_cast<int64_t>(bits - tree[m].len) * tree[m].freq);
                tree[m].len = static_cast<uint16_t>(bits);
            }
            n--;
        }
    }
}

void BlockCoder::GenCodes(Node* tree, int maxCode) {
    std::array<uint16_t, kMaxBits + 1> next{};
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + blCount_[bits - 1]) << 1;
        next[bits] = static_cast<uint16_t>(code);
    }
    for (int n = 0; n <= maxCode; ++n) {
        const int len = tree[n].len;
        if (len == 0) continue;
        tree[n].code = static_cast<uint16_t>(ReverseBits(next[len]++, len));
    }
}

// ---------------------------------------------------------------------------------------------------------
// Code lengths and the code-length tree

namespace {

// The run rules, shared by counting (ScanTree) and sending (SendTree): walks the code lengths 0..maxCode
// and hands every run to emit(length, count, previous length, minimum count). A guard after the last
// length (set by ScanTree) ends every run.
template <class NodeT, class Emit>
void ForEachLengthRun(const NodeT* tree, int maxCode, Emit&& emit) {
    int prevLen = -1;
    int nextLen = tree[0].len;
    int count = 0;
    int maxCount = 7;
    int minCount = 4;
    if (nextLen == 0) {
        maxCount = 138;
        minCount = 3;
    }
    for (int n = 0; n <= maxCode; ++n) {
        const int curLen = nextLen;
        nextLen = tree[n + 1].len;
        if (++count < maxCount && curLen == nextLen) continue;
        emit(curLen, count, prevLen, minCount);
        count = 0;
        prevLen = curLen;
        if (nextLen == 0) {
            maxCount = 138;
            minCount = 3;
        } else if (curLen == nextLen) {
            maxCount = 6;
            minCount = 3;
        } else {
            maxCount = 7;
            minCount = 4;
        }
    }
}

}  // namespace

void BlockCoder::ScanTree(Node* tree, int maxCode) {
    tree[maxCode + 1].len = kGuard;
    ForEachLengthRun(tree, maxCode, [this](int curLen, int count, int prevLen, int minCount) {
        if (count < minCount) {
            blTree_[curLen].freq += count;
        } else if (curLen != 0) {
            if (curLen != prevLen) blTree_[curLen].freq++;
            blTree_[kRep3To6].freq++;
        } else if (count <= 10) {
            blTree_[kRepZero3To10].freq++;
        } else {
            blTree_[kRepZero11To138].freq++;
        }
    });
}

void BlockCoder::SendTree(Node* tree, int maxCode) {
    auto sendCode = [&](int c) { bits_.Put(blTree_[c].code, blTree_[c].len); };
    // The guard after the last length is still in place from ScanTree.
    ForEachLengthRun(tree, maxCode, [&](int curLen, int count, int prevLen, int minCount) {
        if (count < minCount) {
            do sendCode(curLen);
            while (--count != 0);
        } else if (curLen != 0) {
            if (curLen != prevLen) {
                sendCode(curLen);
                count--;
            }
            sendCode(kRep3To6);
            bits_.Put(count - 3, 2);
        } else if (count <= 10) {
            sendCode(kRepZero3To10);
            bits_.Put(count - 3, 3);
        } else {
            sendCode(kRepZero11To138);
            bits_.Put(count - 11, 7);
        }
        bits_.PumpIfFull();
    });
}

int BlockCoder::BuildBitLengthTree() {
    ScanTree(litTree_.data(), litMaxCode_);
    ScanTree(distTree_.data(), distMaxCode_);
    int blMaxCode = 0;
    BuildTree(blTree_.data(), nullptr, kBitLenExtra.data(), 0, kBitLenCodes, kMaxBitLenBits, blMaxCode);
    // The lengths of the code-length code are sent in kBitLenOrder up to the last non-zero one, at
    // least four of them.
    int maxIndex = kBitLenCodes - 1;
    for (; maxIndex >= 3; --maxIndex) {
        if (blTree_[kBitLenOrder[maxIndex]].len != 0) break;
    }
    optLen_ += 3 * (static_cast<uint64_t>(maxIndex) + 1) + 5 + 5 + 4;
    return maxIndex;
}

void BlockCoder::SendAllTrees(int lcodes, int dcodes, int blcodes) {
    bits_.Put(lcodes - 257, 5);
    bits_.Put(dcodes - 1, 5);
    bits_.Put(blcodes - 4, 4);
    for (int rank = 0; rank < blcodes; ++rank) bits_.Put(blTree_[kBitLenOrder[rank]].len, 3);
    SendTree(litTree_.data(), lcodes - 1);
    SendTree(distTree_.data(), dcodes - 1);
}

// ---------------------------------------------------------------------------------------------------------
// Block data

template <class LitTable, class DistTable>
void BlockCoder::EncodeBlock(const LitTable& lit, const DistTable& dist) {
    // Each length's code and extra bits, and each distance code's, go out as one value.
    std::array<uint32_t, 256> lenValue;
    std::array<uint8_t, 256> lenBits;
    for (unsigned lc = 0; lc < 256; ++lc) {
        const unsigned code = kLengthCode[lc];
        const CodeLen c = lit[kLiterals + 1 + code];
        lenValue[lc] = c.code | (lc - kBaseLength[code]) << c.len;
        lenBits[lc] = static_cast<uint8_t>(c.len + kLengthExtra[code]);
    }
    const uint32_t* sym = symbols_.data();
    for (unsigned i = 0; i < count_; ++i) {
        const uint32_t v = sym[i];
        const uint32_t distance = v >> 8;
        const uint32_t lc = v & 0xFF;
        if (distance == 0) {
            bits_.Put(lit[lc].code, lit[lc].len);
        } else {
            bits_.Put(lenValue[lc], lenBits[lc]);
            const uint32_t d = distance - 1;
            const unsigned dc = DistCode(d);
            bits_.Put(dist[dc].code | (d - kBaseDist[dc]) << dist[dc].len, dist[dc].len + kDistExtra[dc]);
        }
        bits_.PumpIfFull();
    }
    bits_.Put(lit[kEndBlock].code, lit[kEndBlock].len);
}

}  // namespace archive::codec

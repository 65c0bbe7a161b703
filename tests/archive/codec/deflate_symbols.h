// Test side of the compressor tests: a small, slow, independent Deflate decoder (RFC 1951) that keeps
// every block's form and symbols, so tests can check what the compressor chose and not only that the
// bytes come back; and a DeflateIO double that feeds an input in pieces and records every read and write.
//
// The decoder reads codes bit by bit with the canonical counts per length (no tables), which is plenty for
// test inputs and shares nothing with the engine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/codec/deflate.h"

namespace deflate_test {

struct Symbol {
    uint16_t value;     // literal byte, or match length
    uint16_t distance;  // 0 for a literal
    bool IsMatch() const { return distance != 0; }
};

struct Block {
    int type = -1;  // 0 stored, 1 fixed, 2 dynamic
    bool last = false;
    size_t storedLength = 0;      // type 0
    std::vector<Symbol> symbols;  // types 1 and 2, without the end-of-block code
    size_t Matches() const {
        size_t n = 0;
        for (const auto& s : symbols) n += s.IsMatch() ? 1 : 0;
        return n;
    }
    size_t Literals() const { return symbols.size() - Matches(); }
};

struct Decoded {
    std::vector<Block> blocks;
    std::string data;
    size_t bytesUsed = 0;  // input bytes up to the end of the last block
};

class Decoder {
public:
    explicit Decoder(const std::string& in) : in_(in) {}

    Decoded Run() {
        Decoded out;
        for (;;) {
            Block b;
            b.last = Bits(1) != 0;
            b.type = static_cast<int>(Bits(2));
            if (b.type == 0) {
                bitBuf_ = 0;
                bitCount_ = 0;
                const unsigned len = Byte() | (Byte() << 8);
                const unsigned nlen = Byte() | (Byte() << 8);
                if ((len ^ 0xFFFF) != nlen) throw std::runtime_error("stored block length check");
                b.storedLength = len;
                for (unsigned i = 0; i < len; ++i) out.data.push_back(static_cast<char>(Byte()));
            } else if (b.type == 1) {
                std::vector<int> lengths(288);
                for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                Huffman lit(lengths);
                Huffman dist(std::vector<int>(30, 5));
                Codes(lit, dist, b, out.data);
            } else if (b.type == 2) {
                const int nlen = static_cast<int>(Bits(5)) + 257;
                const int ndist = static_cast<int>(Bits(5)) + 1;
                const int ncode = static_cast<int>(Bits(4)) + 4;
                static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
                std::vector<int> clen(19, 0);
                for (int i = 0; i < ncode; ++i) clen[order[i]] = static_cast<int>(Bits(3));
                Huffman cl(clen);
                std::vector<int> lengths;
                while (static_cast<int>(lengths.size()) < nlen + ndist) {
                    const int sym = Decode(cl);
                    if (sym < 16) {
                        lengths.push_back(sym);
                    } else {
                        if (sym == 16 && lengths.empty()) throw std::runtime_error("repeat without length");
                        const int value = sym == 16 ? lengths.back() : 0;
                        const int count = sym == 16 ? 3 + static_cast<int>(Bits(2))
                                          : sym == 17 ? 3 + static_cast<int>(Bits(3))
                                                      : 11 + static_cast<int>(Bits(7));
                        for (int i = 0; i < count; ++i) lengths.push_back(value);
                    }
                }
                if (static_cast<int>(lengths.size()) != nlen + ndist) throw std::runtime_error("too many lengths");
                Huffman lit(std::vector<int>(lengths.begin(), lengths.begin() + nlen));
                Huffman dist(std::vector<int>(lengths.begin() + nlen, lengths.end()));
                Codes(lit, dist, b, out.data);
            } else {
                throw std::runtime_error("block type 3");
            }
            out.blocks.push_back(std::move(b));
            if (out.blocks.back().last) break;
        }
        out.bytesUsed = pos_;
        return out;
    }

private:
    struct Huffman {
        explicit Huffman(const std::vector<int>& lengths) : count(16, 0) {
            for (int l : lengths) count[l]++;
            count[0] = 0;
            std::vector<int> offs(16, 0);
            for (int l = 1; l < 16; ++l) offs[l] = offs[l - 1] + count[l - 1];
            symbol.resize(lengths.size());
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] != 0) symbol[offs[lengths[s]]++] = static_cast<int>(s);
        }
        std::vector<int> count;
        std::vector<int> symbol;
    };

    unsigned Byte() {
        if (pos_ >= in_.size()) throw std::runtime_error("input ends early");
        return static_cast<uint8_t>(in_[pos_++]);
    }
    unsigned Bits(int n) {
        while (bitCount_ < n) {
            bitBuf_ |= Byte() << bitCount_;
            bitCount_ += 8;
        }
        const unsigned v = bitBuf_ & ((1u << n) - 1);
        bitBuf_ >>= n;
        bitCount_ -= n;
        return v;
    }
    int Decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= static_cast<int>(Bits(1));
            const int count = h.count[len];
            if (code - count < first) return h.symbol[index + (code - first)];
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
        }
        throw std::runtime_error("bad code");
    }
    void Codes(const Huffman& lit, const Huffman& dist, Block& b, std::string& out) {
        static const int lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const int dbase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                      193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const int dext[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            const int sym = Decode(lit);
            if (sym < 256) {
                out.push_back(static_cast<char>(sym));
                b.symbols.push_back({static_cast<uint16_t>(sym), 0});
            } else if (sym == 256) {
                return;
            } else {
                const int lc = sym - 257;
                if (lc >= 29) throw std::runtime_error("bad length code");
                const int len = lbase[lc] + static_cast<int>(Bits(lext[lc]));
                const int dc = Decode(dist);
                if (dc >= 30) throw std::runtime_error("bad distance code");
                const int d = dbase[dc] + static_cast<int>(Bits(dext[dc]));
                if (d > static_cast<int>(out.size())) throw std::runtime_error("distance too far");
                for (int i = 0; i < len; ++i) out.push_back(out[out.size() - d]);
                b.symbols.push_back({static_cast<uint16_t>(len), static_cast<uint16_t>(d)});
            }
        }
    }

    const std::string& in_;
    size_t pos_ = 0;
    unsigned bitBuf_ = 0;
    int bitCount_ = 0;
};

inline Decoded Decode(const std::string& stream) { return Decoder(stream).Run(); }

// Feeds `input` in pieces of at most `pieceCap` bytes (the compressor asks for about 32 KiB at a time) and
// records every read (asked, got) and every write. Optionally throws on the n-th write.
class RecordingIO : public archive::codec::DeflateIO {
public:
    explicit RecordingIO(std::string input, size_t pieceCap = SIZE_MAX) : input_(std::move(input)), cap_(pieceCap) {}

    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        size_t n = std::min<size_t>({count, input_.size() - pos_, cap_});
        std::memcpy(buffer, input_.data() + pos_, n);
        pos_ += n;
        reads.push_back({count, static_cast<unsigned>(n)});
        return static_cast<unsigned>(n);
    }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override {
        if (failOnWrite != 0 && writes.size() + 1 == failOnWrite) throw std::runtime_error("Not enough room to write archive");
        writes.emplace_back(reinterpret_cast<const char*>(buffer), n);
    }

    std::string Output() const {
        std::string out;
        for (const auto& w : writes) out += w;
        return out;
    }

    struct Read {
        unsigned asked;
        unsigned got;
    };
    std::vector<Read> reads;
    std::vector<std::string> writes;
    size_t failOnWrite = 0;  // 1-based; 0 never

private:
    std::string input_;
    size_t pos_ = 0;
    size_t cap_;
};

}  // namespace deflate_test

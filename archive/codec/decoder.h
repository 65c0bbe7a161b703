// The common ground of the decompressors: where compressed bytes come from and where output goes.
//
// Extraction owns both ends. The input source is the "input step": it reads the entry's compressed bytes
// from the archive in blocks of at most 16000 bytes, runs the message pump once per block, decrypts, and
// raises EFatalUnzipError "Premature end of file reached" when the archive ends early. The output sink is
// the "output step": it cuts the output into blocks of 16000 bytes, checks the stored uncompressed size
// (EBiggerThanUncompressed), writes, folds the CRC and reports progress. Both may throw; decoders let
// those exceptions pass and never catch them.
//
// A decoder returns Ok when the stream ended as its format says, DataError when the data is invalid or
// ran out (what was already written stays; the CRC check decides), OutOfMemory when a table could not be
// allocated. Decoders never throw for bad data, never read past what the source gives, never write more
// than their tables allow, and never loop without consuming input or producing output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace archive::codec {

class InputSource {
public:
    virtual ~InputSource() = default;
    // The next block of compressed bytes, once the previous one is used up; 0 when the entry's
    // compressed bytes are exhausted. The block stays valid until the next call.
    virtual size_t NextBlock(const uint8_t*& data) = 0;
};

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Decoded bytes, in order; any chunk size.
    virtual void Write(const uint8_t* data, size_t n) = 0;
};

enum class DecodeResult { Ok, DataError, OutOfMemory };

// Working memory of the decoders (sliding windows, tables), allocated once per extraction call and reused
// by every entry.
class DecodeWorkspace;
struct DecodeWorkspaceDeleter {
    void operator()(DecodeWorkspace* w) const;
};
using DecodeWorkspacePtr = std::unique_ptr<DecodeWorkspace, DecodeWorkspaceDeleter>;
DecodeWorkspacePtr MakeDecodeWorkspace();

// Method 8, RFC 1951.
DecodeResult Inflate(DecodeWorkspace& ws, InputSource& in, OutputSink& out);
// Method 6. Flag bit 1: 8 KiB dictionary (else 4 KiB); bit 2: literal tree present.
DecodeResult Explode(DecodeWorkspace& ws, InputSource& in, OutputSink& out, uint16_t flags,
                     uint32_t compressedSize, uint32_t uncompressedSize);
// Method 1.
DecodeResult Unshrink(DecodeWorkspace& ws, InputSource& in, OutputSink& out);
// Methods 2 to 5: factor = method - 1.
DecodeResult Unreduce(DecodeWorkspace& ws, InputSource& in, OutputSink& out, int factor,
                      uint32_t uncompressedSize);

}  // namespace archive::codec

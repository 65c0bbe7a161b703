// Fuzzes Explode: any input must end in Ok or DataError without faults, and never produce more than the
// uncompressed size; Ok means exactly that size.
// Input: [block-size byte] [flags byte] [2 bytes uncompressed size, little endian] [Implode stream].
#include "archive/codec/decode_workspace.h"
#include "fuzz/fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static archive::codec::DecodeWorkspacePtr ws = archive::codec::MakeDecodeWorkspace();
    const uint16_t flags = data[1] & 0x06;
    const uint32_t outSize = data[2] | uint32_t{data[3]} << 8;
    fuzz::ChunkSource src(data + 4, size - 4, fuzz::BlockSize(data[0]));
    fuzz::HashSink sink;
    const auto r = archive::codec::Explode(*ws, src, sink, flags, static_cast<uint32_t>(size - 4), outSize);
    if (sink.total > outSize) __builtin_trap();
    if (r == archive::codec::DecodeResult::Ok && sink.total != outSize) __builtin_trap();
    return 0;
}

// Fuzzes Unshrink: any input must end in Ok or DataError without faults or endless work. A code yields at
// most one table's worth of bytes, which bounds the output by the input.
// Input: [block-size byte] [Shrink stream].
#include "archive/codec/decode_workspace.h"
#include "fuzz/fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static archive::codec::DecodeWorkspacePtr ws = archive::codec::MakeDecodeWorkspace();
    fuzz::ChunkSource src(data + 1, size - 1, fuzz::BlockSize(data[0]));
    fuzz::HashSink sink;
    const auto r = archive::codec::Unshrink(*ws, src, sink);
    if (r == archive::codec::DecodeResult::OutOfMemory) __builtin_trap();
    if (sink.total > (size * 8 / 9 + 1) * 8192) __builtin_trap();
    return 0;
}

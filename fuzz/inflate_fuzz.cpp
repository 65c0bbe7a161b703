// Fuzzes Inflate: any input must end in Ok or DataError without faults, and the portable loop and the
// processor's best loop must agree on the result and every output byte.
// Input: [block-size byte] [raw Deflate stream]. Seeds: fuzz/make_corpus.py.
#include "archive/codec/decode_workspace.h"
#include "fuzz/fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static archive::codec::DecodeWorkspacePtr ws = archive::codec::MakeDecodeWorkspace();  // reused, as in extraction
    const size_t block = fuzz::BlockSize(data[0]);
    fuzz::HashSink a, b;
    ws->inflateImpl = archive::codec::InflateImpl::Portable;
    fuzz::ChunkSource srcA(data + 1, size - 1, block);
    const auto ra = archive::codec::Inflate(*ws, srcA, a);
    ws->inflateImpl = archive::codec::InflateImpl::Best;
    fuzz::ChunkSource srcB(data + 1, size - 1, block);
    const auto rb = archive::codec::Inflate(*ws, srcB, b);
    if (ra != rb || a.hash != b.hash || a.total != b.total) __builtin_trap();
    if (ra == archive::codec::DecodeResult::OutOfMemory) __builtin_trap();
    return 0;
}

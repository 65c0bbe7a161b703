#include "archive/codec/deflate_state.h"

namespace archive::codec {

parallel::WorkPool& PoolOf(Deflater::State& st, unsigned workers) {
    if (!st.pool || st.pool->Threads() != workers) {
        st.pool.reset();
        st.pool = std::make_unique<parallel::WorkPool>(workers);
    }
    return *st.pool;
}

MatcherBuffers* TakeSpare(Deflater::State& st, unsigned workers, bool ahead, bool& light) {
    light = false;
    {
        std::lock_guard<std::mutex> lock(st.spareMutex);
        if (!st.spare.empty()) {
            MatcherBuffers* buf = st.spare.back();
            st.spare.pop_back();
            return buf;
        }
        if (ahead && st.owned.size() + 1 >= workers) {
            light = true;
            if (!st.lightSpare.empty()) {
                MatcherBuffers* buf = st.lightSpare.back();
                st.lightSpare.pop_back();
                return buf;
            }
            st.light.reserve(workers);  // never grows past it: the pointers stay valid
            if (st.light.size() < workers) return &st.light.emplace_back();
        }
        st.owned.push_back(std::make_unique<MatcherBuffers>());
        return st.owned.back().get();
    }
}

void GiveBack(Deflater::State& st, MatcherBuffers* buf, bool light) {
    {
        std::lock_guard<std::mutex> lock(st.spareMutex);
        (light ? st.lightSpare : st.spare).push_back(buf);
    }
    st.spareBack.notify_all();
}

DeflateResult ResultOf(const BlockCoder& coder, int level, uint64_t size) {
    DeflateResult result;
    // The deflate option bits of the general purpose flags: fast for levels 1-2, maximum for 8-9.
    if (level <= 2)
        result.optionBits = 4;
    else if (level >= 8)
        result.optionBits = 2;
    result.compressedSize = size;
    result.stored = coder.StoredWhole();
    result.text = coder.Text();
    return result;
}

}  // namespace archive::codec

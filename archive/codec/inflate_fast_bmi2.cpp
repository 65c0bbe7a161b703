// Inflate's fast loop built for x86 processors with BMI2 (shifts that leave the flags alone and a
// one-instruction "keep the low n bits"), which shortens the bit buffer's dependency chains. Only
// inflate_fast.cpp calls it, and only after checking the processor.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define ZB_LOOP_TARGET __attribute__((target("bmi2")))
#define ZB_LOOP_BZHI 1
#include "archive/codec/inflate_fast_loop.h"

namespace archive::codec::inflate_detail {

namespace {
__attribute__((target("bmi2"))) LoopExit FastLoopChecked(LoopState& s) { return RunFastLoop<true>(s); }
__attribute__((target("bmi2"))) LoopExit FastLoopUnchecked(LoopState& s) { return RunFastLoop<false>(s); }
}  // namespace

FastLoops Bmi2FastLoops() { return {&FastLoopChecked, &FastLoopUnchecked}; }

}  // namespace archive::codec::inflate_detail

#endif

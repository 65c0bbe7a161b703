// The portable instantiation of Inflate's fast loop, and the choice of loop for this processor.
//
// The choice is made once per process: the BMI2 build where the processor has it (x86-64 only), the
// portable one otherwise. Tests ask for the portable loop explicitly to check that both decode alike.
#include "archive/codec/inflate_fast_loop.h"

namespace archive::codec::inflate_detail {

#if defined(__x86_64__) || defined(__i386__)
LoopExit FastLoopBmi2(LoopState& s);  // inflate_fast_bmi2.cpp
#endif

namespace {
LoopExit FastLoopPortable(LoopState& s) { return RunFastLoop(s); }
}  // namespace

FastLoop PortableFastLoop() { return &FastLoopPortable; }

FastLoop BestFastLoop() {
#if defined(__x86_64__) || defined(__i386__)
    static const FastLoop best = __builtin_cpu_supports("bmi2") ? &FastLoopBmi2 : &FastLoopPortable;
    return best;
#else
    return &FastLoopPortable;
#endif
}

}  // namespace archive::codec::inflate_detail

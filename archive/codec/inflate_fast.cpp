// The portable instantiation of Inflate's fast loop, and the choice of loop for this processor.
//
// The choice is made once per process: the BMI2 build where the processor has it (x86-64 only), the
// portable one otherwise. Tests ask for the portable loop explicitly to check that both decode alike.
#include "archive/codec/inflate_fast_loop.h"

namespace archive::codec::inflate_detail {

#if defined(__x86_64__) || defined(__i386__)
FastLoops Bmi2FastLoops();  // inflate_fast_bmi2.cpp
#endif

namespace {
LoopExit FastLoopChecked(LoopState& s) { return RunFastLoop<true>(s); }
LoopExit FastLoopUnchecked(LoopState& s) { return RunFastLoop<false>(s); }
}  // namespace

FastLoops PortableFastLoops() { return {&FastLoopChecked, &FastLoopUnchecked}; }

FastLoops BestFastLoops() {
#if defined(__x86_64__) || defined(__i386__)
    static const FastLoops best = __builtin_cpu_supports("bmi2") ? Bmi2FastLoops() : PortableFastLoops();
    return best;
#else
    return PortableFastLoops();
#endif
}

}  // namespace archive::codec::inflate_detail

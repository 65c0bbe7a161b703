// Inflate's fast loop built for x86 processors with BMI2 (shifts that leave the flags alone and a
// one-instruction "keep the low n bits"), which shortens the bit buffer's dependency chains. Only
// inflate_fast.cpp calls it, and only after checking the processor.
#if defined(__x86_64__) || defined(__i386__)

#include "archive/codec/inflate_fast_loop.h"

namespace archive::codec::inflate_detail {

__attribute__((target("bmi2"))) LoopExit FastLoopBmi2(LoopState& s) { return RunFastLoop(s); }

}  // namespace archive::codec::inflate_detail

#endif

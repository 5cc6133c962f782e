#include "render/instruction_set.h"

#include <atomic>

#include "render/avx2_kernels.h"

namespace cv {

namespace {

InstructionSet detectBestSet() {
#if CORVANE_AVX2_KERNELS
    // The runtime checks the operating system saves the wide registers too.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return InstructionSet::Avx2;
#endif
    return InstructionSet::Baseline;
}

std::atomic<InstructionSet>& activeSet() {
    static std::atomic<InstructionSet> active{bestInstructionSet()};
    return active;
}

}  // namespace

InstructionSet bestInstructionSet() {
    static const InstructionSet best = detectBestSet();
    return best;
}

InstructionSet activeInstructionSet() {
    return activeSet().load(std::memory_order_relaxed);
}

InstructionSet useInstructionSet(InstructionSet set) {
    const InstructionSet allowed =
        set == InstructionSet::Avx2 ? bestInstructionSet() : InstructionSet::Baseline;
    return activeSet().exchange(allowed, std::memory_order_relaxed);
}

}  // namespace cv

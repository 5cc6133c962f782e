#pragma once

namespace cv {

// The widest vector instructions the pixel loops may use. Every set gives
// bit-identical results: the wider kernels keep each value's order of
// operations, so pictures never depend on the processor.
enum class InstructionSet { Baseline, Avx2 };

// The widest set this processor and its operating system support, found once.
InstructionSet bestInstructionSet();

// The set the pixel loops use now: the best one, unless narrowed.
InstructionSet activeInstructionSet();

// Narrows the loops to `set` (never wider than the best one), so the sets can
// be compared with each other; returns the set used before.
InstructionSet useInstructionSet(InstructionSet set);

}  // namespace cv

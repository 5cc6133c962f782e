#pragma once

#include <string>
#include <vector>

#include "samples/fits_samples.h"

namespace cvsamples {

// Siril sequences (registered, old format, several layers, excluded frames,
// statistics) and process-icon files (icons, nested instances, long tables,
// long values, extras with attributes, cut-off XML).
std::vector<SampleFile> textSamples();

// A Siril sequence of `frames` images, every `excludeEvery`-th excluded (0:
// none), with registration lines for `layer` ('0'..'2', '*'; 0: none).
std::string sirilSequence(int frames, int excludeEvery, char layer, int version = 4,
                          int declared = -1);

}  // namespace cvsamples

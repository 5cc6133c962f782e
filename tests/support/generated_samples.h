#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "samples/fits_samples.h"
#include "samples/xisf_samples.h"

namespace cvtest {

// Every generated FITS and XISF sample (projects included), small ones only.
inline std::vector<cvsamples::SampleFile> generatedSamples() {
    auto samples = cvsamples::fitsSamples(false);
    for (auto& sample : cvsamples::xisfSamples(false)) samples.push_back(std::move(sample));
    return samples;
}

// The bytes of one generated sample file, by name.
inline std::string generatedSample(const std::string& name) {
    for (const auto& sample : generatedSamples()) {
        if (sample.name == name) return sample.build();
    }
    ADD_FAILURE() << "no sample " << name;
    return {};
}

}  // namespace cvtest

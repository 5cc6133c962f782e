#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include <gtest/gtest.h>

#include "samples/fits_samples.h"
#include "samples/xisf_samples.h"
#include "shell/thumbnail_provider_win.h"

namespace cvtest {

// The bytes of one generated sample file, by name.
inline std::string generatedSample(const std::string& name) {
    auto samples = cvsamples::fitsSamples(false);
    for (auto& sample : cvsamples::xisfSamples(false)) samples.push_back(std::move(sample));
    for (const auto& sample : samples) {
        if (sample.name == name) return sample.build();
    }
    ADD_FAILURE() << "no sample " << name;
    return {};
}

inline IStream* memoryStream(const std::string& bytes) {
    return SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
}

// A thumbnail provider made as the class factory makes it and initialised
// with `stream`, as Explorer does.
inline IThumbnailProvider* initializedProvider(IStream* stream) {
    IThumbnailProvider* provider = nullptr;
    EXPECT_EQ(cvwin::createThumbnailProvider(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)), S_OK);
    IInitializeWithStream* initialize = nullptr;
    EXPECT_EQ(provider->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&initialize)), S_OK);
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    initialize->Release();
    return provider;
}

}  // namespace cvtest

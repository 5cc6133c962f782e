#pragma once

#include <windows.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <string>

#include <gtest/gtest.h>

#include "support/generated_samples.h"
#include "shell/thumbnail_provider_win.h"

namespace cvtest {

inline IStream* memoryStream(const std::string& bytes) {
    return SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<UINT>(bytes.size()));
}

// A thumbnail provider made as the class factory makes it and initialised
// with `stream`, as Explorer does.
inline IThumbnailProvider* initializedProvider(IStream* stream) {
    IThumbnailProvider* provider = nullptr;
    EXPECT_EQ(cvwin::createThumbnailProvider(__uuidof(IThumbnailProvider),
                                             reinterpret_cast<void**>(&provider)),
              S_OK);
    IInitializeWithStream* initialize = nullptr;
    EXPECT_EQ(provider->QueryInterface(__uuidof(IInitializeWithStream),
                                       reinterpret_cast<void**>(&initialize)),
              S_OK);
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    initialize->Release();
    return provider;
}

}  // namespace cvtest

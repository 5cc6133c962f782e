// Settings written to the prefix's registry, as the settings program writes
// them. Every Windows test shares one CTest resource lock, so none of them
// reads settings while these change them.
#include "shell/registry_settings_win.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include "windows/thumbnail_helpers.h"

namespace {

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, cvwin::kSettingsKey); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, cvwin::kSettingsKey); }

    static void writeDword(const wchar_t* name, DWORD value) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, cvwin::kSettingsKey, name, REG_DWORD, &value,
                                  sizeof value),
                  ERROR_SUCCESS);
    }
    static void writeQword(const wchar_t* name, ULONGLONG value) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, cvwin::kSettingsKey, name, REG_QWORD, &value,
                                  sizeof value),
                  ERROR_SUCCESS);
    }
    static void writeString(const wchar_t* name, const wchar_t* value) {
        const auto bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
        ASSERT_EQ(
            RegSetKeyValueW(HKEY_CURRENT_USER, cvwin::kSettingsKey, name, REG_SZ, value, bytes),
            ERROR_SUCCESS);
    }
};

TEST_F(RegistrySettings, AbsentKeyGivesTheDefaults) {
    const cv::RenderSettings settings = cvwin::readRenderSettings();
    EXPECT_TRUE(settings.autoStretch);
    EXPECT_FALSE(settings.labelFormat);
    EXPECT_EQ(settings.labelCorner, cv::LabelCorner::BottomRight);
    EXPECT_EQ(settings.brightness, cv::Brightness::Standard);
    EXPECT_EQ(settings.cfaMode, cv::CfaMode::Automatic);
}

TEST_F(RegistrySettings, OutOfRangeAndMistypedValuesFallBack) {
    writeDword(L"LabelCorner", 7);
    writeDword(L"Brightness", 5);
    writeDword(L"CfaMode", 4);
    writeString(L"AutoStretch", L"0");
    writeDword(L"LabelFormat", 9);
    const cv::RenderSettings settings = cvwin::readRenderSettings();
    EXPECT_EQ(settings.labelCorner, cv::LabelCorner::BottomRight);
    EXPECT_EQ(settings.brightness, cv::Brightness::Standard);
    EXPECT_EQ(settings.cfaMode, cv::CfaMode::Automatic);
    EXPECT_TRUE(settings.autoStretch) << "only a REG_DWORD counts";
    EXPECT_TRUE(settings.labelFormat) << "any non-zero switch is on";
}

TEST_F(RegistrySettings, OnlyADwordZeroTurnsAnExtensionOff) {
    EXPECT_TRUE(cvwin::extensionEnabled(HKEY_CURRENT_USER, L".fits")) << "no key";
    writeQword(L"Registerxisf", 0);
    EXPECT_TRUE(cvwin::extensionEnabled(HKEY_CURRENT_USER, L".xisf"))
        << "a REG_QWORD is not a switch";
    writeDword(L"Registerfit", 0);
    EXPECT_FALSE(cvwin::extensionEnabled(HKEY_CURRENT_USER, L".fit"));
    EXPECT_FALSE(cvwin::extensionEnabled(HKEY_CURRENT_USER, L"fit"));
    EXPECT_TRUE(cvwin::extensionEnabled(HKEY_CURRENT_USER, L"fits"));
}

// Mean level and whether every pixel is grey, of the thumbnail Explorer would get.
struct Look {
    double mean = 0.0;
    bool grey = true;
};

Look thumbnailLook(const std::string& bytes) {
    IStream* stream = cvtest::memoryStream(bytes);
    IThumbnailProvider* provider = cvtest::initializedProvider(stream);
    stream->Release();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha{};
    Look look;
    if (provider->GetThumbnail(256, &bitmap, &alpha) == S_OK) {
        DIBSECTION section{};
        GetObjectW(bitmap, sizeof section, &section);
        const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
        const std::size_t pixels = static_cast<std::size_t>(section.dsBm.bmWidth) *
                                   static_cast<std::size_t>(std::abs(section.dsBm.bmHeight));
        double sum = 0;
        for (std::size_t i = 0; i < pixels; ++i) {
            sum += bits[i * 4 + 1];
            look.grey =
                look.grey && bits[i * 4] == bits[i * 4 + 1] && bits[i * 4 + 1] == bits[i * 4 + 2];
        }
        look.mean = sum / static_cast<double>(pixels);
        DeleteObject(bitmap);
    }
    provider->Release();
    return look;
}

TEST_F(RegistrySettings, TheNextThumbnailFollowsTheSettings) {
    const std::string frame = cvtest::generatedSample("bitpix16.fits");
    const double stretched = thumbnailLook(frame).mean;
    writeDword(L"AutoStretch", 0);
    EXPECT_LT(thumbnailLook(frame).mean, stretched / 2)
        << "a linear frame shown as stored is darker";

    const std::string mosaic = cvtest::generatedSample("rggb-mosaic.fits");
    EXPECT_FALSE(thumbnailLook(mosaic).grey);
    writeDword(L"CfaMode", 2);
    EXPECT_TRUE(thumbnailLook(mosaic).grey) << "always mono";
    writeDword(L"CfaMode", 9);
    EXPECT_FALSE(thumbnailLook(mosaic).grey) << "an out-of-range mode reads as automatic";
}

}  // namespace

#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/large_allocator.h"
#include "metadata/metadata.h"
#include "preview/preview_listing.h"
#include "preview/sidebar.h"
#include "render/rgb_image.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

// What the loading job leaves for the window to show.
struct PreviewContent {
    cv::RgbImage picture;
    // Made once with the picture, so painting (on every resize) only draws.
    cv::LargeBytes dibRows;  // the picture as a 24-bit DIB's rows: B, G, R, padded to 4 bytes
    std::vector<cv::SidebarRow> sidebar;
    bool hasPicture = false;
    std::wstring statusText;  // centred message; empty for none
    bool listingMode = false;
    bool listingChanged = false;  // the body has not reached the text box yet
    bool wrapLines = true;
    cv::PreviewListing listing;
};

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class Locked {
public:
    explicit Locked(CriticalSection& lock) : lock_(lock) { lock_.enter(); }
    ~Locked() { lock_.leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CriticalSection& lock_;
};

// Everything the preview window is drawn from. The look and the controls
// belong to the window's thread; `content` is shared with the loading job and
// read or written only under `lock`.
struct PreviewView {
    PreviewView() = default;
    PreviewView(const PreviewView&) = delete;
    PreviewView& operator=(const PreviewView&) = delete;

    COLORREF backgroundColor = 0;
    COLORREF textColor = 0;
    GdiFont hostFont;  // from the host's SetFont
    bool darkMode = false;
    bool showSidebar = true;

    HWND textBox = nullptr;
    GdiFont listingFont;
    GdiFont titleFont;
    HFONT fontKey = nullptr;  // the host font the two above were made from
    GdiBrush textBoxBrush;
    COLORREF textBoxBrushColor = 0;

    CriticalSection lock;
    PreviewContent content;
};

constexpr int kTextBoxId = 1002;

// Paints the whole client area: the listing header, the fitted picture with
// its sidebar, or the centred message. Serves WM_PAINT and WM_PRINTCLIENT.
void paintPreview(PreviewView& view, HWND window, HDC dc);

// Gives the content its picture, with the bitmap rows and sidebar rows that
// painting draws. May throw std::bad_alloc.
void setPicture(PreviewContent& content, cv::RgbImage&& picture, const cv::ImageMetadata& metadata);

// Creates, places, fills, shows or hides the listing's text box.
void layoutTextBox(PreviewView& view, HWND window);

// The text box's background brush, made again when the colour changed.
HBRUSH textBoxBrush(PreviewView& view);

}  // namespace cvwin

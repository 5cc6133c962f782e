#include "shell/format_label_win.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

#include "shell/fault_guard_win.h"

namespace cvwin {

namespace {

constexpr double kBadgeHeightShare = 0.16;    // of the longer side
constexpr double kMaxBadgeHeightShare = 0.4;  // of the image height
constexpr double kMarginShare = 0.045;        // of the longer side
constexpr double kMaxBadgeWidthShare = 0.55;  // of the image width
constexpr int kMinBadgeHeight = 13;           // pixels
constexpr double kFontHeightShare = -0.62;    // of the badge height; negative: character height
constexpr int kFontWeight = 600;

struct Badge {
    const wchar_t* text;
    std::uint8_t red, green, blue;
};

bool badgeFor(cv::FileKind kind, Badge& badge) {
    switch (kind) {
        case cv::FileKind::Xisf:
            badge = {L"XISF", 56, 67, 225};
            return true;
        case cv::FileKind::Fits:
            badge = {L"FITS", 133, 84, 49};
            return true;
        case cv::FileKind::Project:
            badge = {L"VM", 83, 74, 183};
            return true;
        default:
            return false;
    }
}

// GDI objects released in reverse order of creation on every path.
struct GdiResources {
    HDC dc = nullptr;
    HFONT font = nullptr;
    HGDIOBJ previousFont = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    ~GdiResources() {
        const cvwin::ForeignCall call;
        if (previousBitmap != nullptr) SelectObject(dc, previousBitmap);
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (previousFont != nullptr) SelectObject(dc, previousFont);
        if (font != nullptr) DeleteObject(font);
        if (dc != nullptr) DeleteDC(dc);
    }
};

bool insideChamfer(int i, int j, int w, int h) {
    const int r = h / 4;
    const int dl = i, dr = w - 1 - i, dt = j, db = h - 1 - j;
    if (dl < r && dt < r && dl + dt < r) return true;
    if (dr < r && dt < r && dr + dt < r - 1) return true;
    if (dl < r && db < r && dl + db < r - 1) return true;
    return dr < r && db < r && dr + db < r - 2;
}

std::uint8_t towardsWhite(std::uint8_t channel, int coverage) {
    if (coverage >= 255) return 255;
    return static_cast<std::uint8_t>((channel * (255 - coverage) + 255 * coverage) / 255);
}

// Draws the badge's text in white on black into a DIB section of `gdi`,
// `size.cx` wide and `height` tall; its pixels are the coverage. All GDI.
const std::uint8_t* drawBadgeText(GdiResources& gdi, const Badge& badge, int height, int imageWidth,
                                  SIZE& size) {
    const cvwin::ForeignCall call;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return nullptr;
    gdi.dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (gdi.dc == nullptr) return nullptr;
    gdi.font = CreateFontW(static_cast<int>(height * kFontHeightShare), 0, 0, 0, kFontWeight, FALSE,
                           FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    if (gdi.font == nullptr) return nullptr;
    gdi.previousFont = SelectObject(gdi.dc, gdi.font);
    SIZE extent{};
    const int length = static_cast<int>(wcslen(badge.text));
    if (!GetTextExtentPoint32W(gdi.dc, badge.text, length, &extent)) return nullptr;
    const int w = extent.cx + 2 * (height / 3);
    if (w > imageWidth * kMaxBadgeWidthShare) return nullptr;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    gdi.bitmap = CreateDIBSection(gdi.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (gdi.bitmap == nullptr || bits == nullptr) return nullptr;
    gdi.previousBitmap = SelectObject(gdi.dc, gdi.bitmap);
    std::fill_n(static_cast<std::uint8_t*>(bits),
                static_cast<std::size_t>(w) * static_cast<std::size_t>(height) * 4, 0);
    SetBkMode(gdi.dc, TRANSPARENT);
    SetTextColor(gdi.dc, RGB(255, 255, 255));
    RECT rect{0, 0, w, height};
    DrawTextW(gdi.dc, badge.text, length, &rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    GdiFlush();
    size = {w, height};
    return static_cast<const std::uint8_t*>(bits);
}

}  // namespace

bool drawFormatLabel(cv::RgbImage& image, cv::FileKind kind, cv::LabelCorner corner) {
    Badge badge{};
    if (!badgeFor(kind, badge) || image.empty()) return false;
    const int width = static_cast<int>(image.width);
    const int height = static_cast<int>(image.height);
    const int longer = std::max(width, height);
    const int h = static_cast<int>(longer * kBadgeHeightShare);
    if (h < kMinBadgeHeight || h > height * kMaxBadgeHeightShare) return false;
    const int margin = static_cast<int>(longer * kMarginShare);

    GdiResources gdi;
    SIZE size{};
    const std::uint8_t* coverage = drawBadgeText(gdi, badge, h, width, size);
    const int w = size.cx;
    if (coverage == nullptr || w + 2 * margin > width) return false;

    const bool right =
        corner == cv::LabelCorner::TopRight || corner == cv::LabelCorner::BottomRight;
    const bool bottom =
        corner == cv::LabelCorner::BottomLeft || corner == cv::LabelCorner::BottomRight;
    const int x0 = right ? width - w - margin : margin;
    const int y0 = bottom ? height - margin - h : margin;
    for (int j = 0; j < h; ++j) {
        const int y = y0 + j;
        if (y < 0 || y >= height) continue;
        for (int i = 0; i < w; ++i) {
            const int x = x0 + i;
            if (x < 0 || x >= width || insideChamfer(i, j, w, h)) continue;
            const int a = coverage[(static_cast<std::size_t>(j) * static_cast<std::size_t>(w) +
                                    static_cast<std::size_t>(i)) *
                                       4 +
                                   1];
            std::uint8_t* pixel =
                image.row(static_cast<std::uint32_t>(y)) + static_cast<std::size_t>(x) * 3;
            pixel[0] = a > 0 ? towardsWhite(badge.red, a) : badge.red;
            pixel[1] = a > 0 ? towardsWhite(badge.green, a) : badge.green;
            pixel[2] = a > 0 ? towardsWhite(badge.blue, a) : badge.blue;
        }
    }
    return true;
}

}  // namespace cvwin

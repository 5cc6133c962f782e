#include "shell/preview_view_win.h"

#include <uxtheme.h>

#include <algorithm>
#include <memory>
#include <new>

#include "preview/sidebar.h"
#include "shell/dib_win.h"

namespace cvwin {

namespace {

constexpr int kFallbackPad = 8;         // pixels, when the font reports no average width
constexpr int kFallbackCharWidth = 7;   // pixels at 96 dpi, for the picture's margin
constexpr int kMessageMargin = 24;      // pixels at 96 dpi, either side of a message
constexpr int kSidebarCharacters = 30;  // sidebar width in average characters
constexpr int kMinTextBoxWidth = 40;    // pixels
constexpr int kMinTextBoxHeight = 24;   // pixels
constexpr LONG kTitleWeight = 600;
constexpr UINT kDefaultDpi = 96;
constexpr UINT kLineFlags = DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 texts are drawn as wide strings");

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Without a host font the preview uses the dialog font everywhere, so
// measuring and drawing always agree.
HFONT baseFont(const PreviewView& view) {
    return view.hostFont ? view.hostFont.get()
                         : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// Selects fonts into a device context and puts the original back at the end.
class FontScope {
public:
    FontScope(HDC dc, HFONT font) : dc_(dc), original_(SelectObject(dc, font)) {}
    ~FontScope() {
        if (original_ != nullptr) SelectObject(dc_, original_);
    }
    FontScope(const FontScope&) = delete;
    FontScope& operator=(const FontScope&) = delete;
    void select(HFONT font) { SelectObject(dc_, font); }

private:
    HDC dc_;
    HGDIOBJ original_;
};

struct Metrics {
    int averageWidth;
    int pad;
    int lineHeight;
    int gap;
};

Metrics metricsOf(HDC dc) {
    TEXTMETRICW text{};
    GetTextMetricsW(dc, &text);
    const int average = static_cast<int>(text.tmAveCharWidth);
    const int height = static_cast<int>(text.tmHeight);
    return {average, average >= 1 ? average : kFallbackPad, height + height / 6, height / 2};
}

COLORREF mutedColor(const PreviewView& view) {
    const auto mean = [](BYTE a, BYTE b) { return static_cast<BYTE>((a + b) / 2); };
    return RGB(mean(GetRValue(view.backgroundColor), GetRValue(view.textColor)),
               mean(GetGValue(view.backgroundColor), GetGValue(view.textColor)),
               mean(GetBValue(view.backgroundColor), GetBValue(view.textColor)));
}

UINT dpiOf(HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    return dpi != 0 ? dpi : kDefaultDpi;
}

void fill(HDC dc, const RECT& rect, COLORREF color) {
    const GdiBrush brush(CreateSolidBrush(color));
    if (brush) FillRect(dc, &rect, brush.get());
}

void drawLine(HDC dc, const wchar_t* text, int left, int top, int right, int height, COLORREF color,
              UINT flags) {
    RECT rect{left, top, right, top + height};
    SetTextColor(dc, color);
    DrawTextW(dc, text, -1, &rect, flags);
}

void paintMessage(const PreviewView& view, HWND window, HDC dc, const RECT& client,
                  const std::wstring& text) {
    if (text.empty()) return;
    const FontScope font(dc, baseFont(view));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, view.textColor);
    const int margin = MulDiv(kMessageMargin, static_cast<int>(dpiOf(window)), kDefaultDpi);
    RECT measured{client.left + margin, client.top, client.right - margin, client.bottom};
    DrawTextW(dc, text.c_str(), -1, &measured, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
    const int height = measured.bottom - measured.top;
    RECT target{client.left + margin, client.top + (client.bottom - client.top - height) / 2,
                client.right - margin, client.bottom};
    DrawTextW(dc, text.c_str(), -1, &target, DT_CENTER | DT_WORDBREAK);
}

// Pixels for every row the picture claims.
bool wholePicture(const cv::RgbImage& picture) {
    return !picture.empty() && picture.pixels.size() / 3 / picture.width >= picture.height;
}

bool showsPicture(const PreviewContent& content) {
    return !content.listingMode && content.hasPicture && wholePicture(content.picture);
}

std::size_t dibStride(const cv::RgbImage& picture) {
    return (3 * static_cast<std::size_t>(picture.width) + 3) & ~std::size_t{3};
}

void drawPicture(HDC dc, const PreviewContent& content, const RECT& area, int availableWidth,
                 int availableHeight) {
    const cv::RgbImage& picture = content.picture;
    const double scale = std::min({static_cast<double>(availableWidth) / picture.width,
                                   static_cast<double>(availableHeight) / picture.height, 1.0});
    const int width = static_cast<int>(picture.width * scale);
    const int height = static_cast<int>(picture.height * scale);
    if (width < 1 || height < 1 || content.dibRows.size() < dibStride(picture) * picture.height)
        return;
    const BITMAPINFO info = topDownBitmapInfo(picture.width, picture.height, 24);
    const int x = area.left + (area.right - width - area.left) / 2;
    const int y = area.top + (area.bottom - height - area.top) / 2;
    const int previousMode = SetStretchBltMode(dc, HALFTONE);
    POINT previousOrigin{};
    SetBrushOrgEx(dc, 0, 0, &previousOrigin);
    StretchDIBits(dc, x, y, width, height, 0, 0, static_cast<int>(picture.width),
                  static_cast<int>(picture.height), content.dibRows.data(), &info, DIB_RGB_COLORS,
                  SRCCOPY);
    SetStretchBltMode(dc, previousMode);
    SetBrushOrgEx(dc, previousOrigin.x, previousOrigin.y, nullptr);
}

void paintSidebar(const PreviewView& view, HDC dc, const RECT& area) {
    const FontScope font(dc, baseFont(view));
    SetBkMode(dc, TRANSPARENT);
    const Metrics metrics = metricsOf(dc);
    const COLORREF muted = mutedColor(view);
    int y = area.top + metrics.pad;
    for (const cv::SidebarRow& row : view.content.sidebar) {
        if (y + 2 * metrics.lineHeight > area.bottom) break;
        const int left = area.left + metrics.pad;
        const int right = area.right - metrics.pad;
        drawLine(dc, wide(row.label), left, y, right, metrics.lineHeight, muted,
                 DT_SINGLELINE | DT_NOPREFIX);
        drawLine(dc, wide(row.value), left, y + metrics.lineHeight, right, metrics.lineHeight,
                 view.textColor, kLineFlags);
        y += 2 * metrics.lineHeight + metrics.gap;
    }
}

// Runs with the content's lock held, so the job cannot swap the picture mid-paint.
void paintPicture(const PreviewView& view, HWND window, HDC dc, const RECT& client) {
    int characterWidth = 0;
    {
        const FontScope font(dc, baseFont(view));
        characterWidth = metricsOf(dc).averageWidth;
    }
    if (characterWidth < 1)
        characterWidth = MulDiv(kFallbackCharWidth, static_cast<int>(dpiOf(window)), kDefaultDpi);
    const int sidebarWidth =
        std::min<int>(characterWidth * kSidebarCharacters, (client.right - client.left) / 3);
    RECT area = client;
    if (view.showSidebar) area.right -= sidebarWidth;
    const int availableWidth = area.right - area.left - characterWidth;
    const int availableHeight = area.bottom - area.top - characterWidth;
    if (availableWidth >= 1 && availableHeight >= 1)
        drawPicture(dc, view.content, area, availableWidth, availableHeight);
    if (view.showSidebar)
        paintSidebar(view, dc,
                     {client.right - sidebarWidth, client.top, client.right, client.bottom});
}

int headerHeight(const Metrics& metrics, bool hasNote) {
    return metrics.lineHeight * (hasNote ? 3 : 2) + 2 * metrics.pad;
}

// The title and listing fonts, made from the host's font when it changed. The
// text box is given the new listing font before the old one is deleted.
void ensureListingFonts(PreviewView& view) {
    if (view.listingFont && view.titleFont && view.fontKey == view.hostFont.get()) return;
    const GdiFont oldListing = std::move(view.listingFont);
    const GdiFont oldTitle = std::move(view.titleFont);
    LOGFONTW base{};
    if (GetObjectW(baseFont(view), sizeof base, &base) != 0) {
        LOGFONTW title = base;
        title.lfWeight = kTitleWeight;
        view.titleFont.reset(CreateFontIndirectW(&title));
        LOGFONTW listing = base;
        listing.lfWeight = FW_NORMAL;
        listing.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
        wcsncpy_s(listing.lfFaceName, LF_FACESIZE, L"Consolas", _TRUNCATE);
        view.listingFont.reset(CreateFontIndirectW(&listing));
        view.fontKey = view.hostFont.get();
    }
    if (view.textBox != nullptr && IsWindow(view.textBox)) {
        SendMessageW(view.textBox, WM_SETFONT, reinterpret_cast<WPARAM>(view.listingFont.get()),
                     FALSE);
    }
}

void paintListingHeader(PreviewView& view, HDC dc, const RECT& client) {
    ensureListingFonts(view);
    std::wstring title, subtitle, note;
    {
        const Locked locked(view.lock);
        title.assign(wide(view.content.listing.title));
        subtitle.assign(wide(view.content.listing.subtitle));
        note.assign(wide(view.content.listing.note));
    }
    FontScope font(dc, baseFont(view));
    const Metrics metrics = metricsOf(dc);
    SetBkMode(dc, TRANSPARENT);
    const int left = client.left + metrics.pad;
    const int right = client.right - metrics.pad;
    const int top = client.top + metrics.pad;
    const COLORREF muted = mutedColor(view);
    if (view.titleFont) font.select(view.titleFont.get());
    drawLine(dc, title.c_str(), left, top, right, metrics.lineHeight, view.textColor, kLineFlags);
    font.select(baseFont(view));
    drawLine(dc, subtitle.c_str(), left, top + metrics.lineHeight, right, metrics.lineHeight,
             view.textColor, kLineFlags);
    if (!note.empty()) {
        drawLine(dc, note.c_str(), left, top + 2 * metrics.lineHeight, right, metrics.lineHeight,
                 muted, kLineFlags);
    }
    const GdiPen pen(CreatePen(PS_SOLID, 1, muted));
    if (!pen) return;
    HGDIOBJ previousPen = SelectObject(dc, pen.get());
    const int separator = client.top + headerHeight(metrics, !note.empty()) - metrics.pad / 2;
    MoveToEx(dc, left, separator, nullptr);
    LineTo(dc, right, separator);
    SelectObject(dc, previousPen);
}

HWND createTextBox(const PreviewView& view, HWND window, const RECT& box, bool wrapLines) {
    DWORD style = WS_CHILD | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_NOHIDESEL | ES_READONLY;
    if (!wrapLines) style |= WS_HSCROLL | ES_AUTOHSCROLL;
    HWND textBox = CreateWindowExW(
        0, L"EDIT", L"", style, box.left, box.top, box.right - box.left, box.bottom - box.top,
        window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextBoxId)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
    if (textBox == nullptr) return nullptr;
    SendMessageW(textBox, EM_SETLIMITTEXT, 0, 0);
    if (view.darkMode) SetWindowTheme(textBox, L"DarkMode_Explorer", nullptr);
    return textBox;
}

void hideTextBox(const PreviewView& view) {
    if (view.textBox != nullptr && IsWindow(view.textBox)) ShowWindow(view.textBox, SW_HIDE);
}

}  // namespace

void setPicture(PreviewContent& content, cv::RgbImage&& picture,
                const cv::ImageMetadata& metadata) {
    const std::size_t stride = dibStride(picture);
    const bool whole = wholePicture(picture);
    cv::LargeBytes rows(whole ? stride * picture.height : 0);
    for (std::uint32_t y = 0; whole && y < picture.height; ++y) {
        const std::uint8_t* in = picture.row(y);
        std::uint8_t* out = rows.data() + stride * y;
        for (std::uint32_t x = 0; x < picture.width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    content.sidebar = cv::sidebarRows(metadata);
    content.dibRows = std::move(rows);
    content.picture = std::move(picture);
    content.hasPicture = true;
}

void paintPreview(PreviewView& view, HWND window, HDC dc) {
    RECT client{};
    GetClientRect(window, &client);
    fill(dc, client, view.backgroundColor);
    std::wstring message;
    bool listingMode = false;
    {
        const Locked locked(view.lock);
        if (showsPicture(view.content)) {
            paintPicture(view, window, dc, client);
            return;
        }
        listingMode = view.content.listingMode;
        if (!listingMode) message = view.content.statusText;
    }
    if (listingMode)
        paintListingHeader(view, dc, client);
    else
        paintMessage(view, window, dc, client, message);
}

void layoutTextBox(PreviewView& view, HWND window) {
    if (!IsWindow(window)) return;
    bool listingMode = false;
    bool wrapLines = true;
    bool hasNote = false;
    {
        const Locked locked(view.lock);
        listingMode = view.content.listingMode;
        wrapLines = view.content.wrapLines;
        hasNote = !view.content.listing.note.empty();
    }
    if (!listingMode) {
        hideTextBox(view);
        return;
    }
    ensureListingFonts(view);
    RECT client{};
    GetClientRect(window, &client);
    Metrics metrics{};
    if (HDC dc = GetDC(window); dc != nullptr) {
        const FontScope font(dc, baseFont(view));
        metrics = metricsOf(dc);
        ReleaseDC(window, dc);
    }
    const int top = client.top + headerHeight(metrics, hasNote);
    const RECT box{client.left + metrics.pad, top, client.right - metrics.pad / 2,
                   client.bottom - metrics.pad / 2};
    if (box.right - box.left < kMinTextBoxWidth || box.bottom - box.top < kMinTextBoxHeight) {
        hideTextBox(view);
        return;
    }
    bool created = false;
    if (view.textBox != nullptr && IsWindow(view.textBox)) {
        SetWindowPos(view.textBox, nullptr, box.left, box.top, box.right - box.left,
                     box.bottom - box.top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        view.textBox = createTextBox(view, window, box, wrapLines);
        if (view.textBox == nullptr) return;
        created = true;
    }
    if (view.listingFont) {
        SendMessageW(view.textBox, WM_SETFONT, reinterpret_cast<WPARAM>(view.listingFont.get()),
                     FALSE);
    }
    std::wstring body;
    bool refill = false;
    {
        const Locked locked(view.lock);
        if (view.content.listingChanged || created) {
            body.assign(wide(view.content.listing.body));
            view.content.listingChanged = false;
            refill = true;
        }
    }
    if (refill) SetWindowTextW(view.textBox, body.c_str());
    ShowWindow(view.textBox, SW_SHOW);
    InvalidateRect(view.textBox, nullptr, TRUE);
}

HBRUSH textBoxBrush(PreviewView& view) {
    if (!view.textBoxBrush || view.textBoxBrushColor != view.backgroundColor) {
        view.textBoxBrush.reset(CreateSolidBrush(view.backgroundColor));
        view.textBoxBrushColor = view.backgroundColor;
    }
    return view.textBoxBrush.get();
}

}  // namespace cvwin

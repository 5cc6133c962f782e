// The README's pictures of the Windows side: the preview pane showing an image
// beside its sidebar and a sequence's listing, and the settings window, each
// captured from the screen as a 24-bit BMP. Run under Wine in a virtual X
// server by tools/screenshots.sh.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "samples/fits_samples.h"
#include "samples/text_samples.h"
#include "settings/settings_window_win.h"
#include "shell/preview_handler_win.h"

namespace {

constexpr int kPaneWidth = 760;
constexpr int kPaneHeight = 460;
constexpr DWORD kPreviewSettleMs = 4000;  // both passes of the preview, with room to spare
constexpr DWORD kWindowWaitMs = 20000;

void pumpFor(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
}

// The window as the screen shows it, children included, into a bottom-up BMP.
bool saveWindow(HWND window, const std::wstring& path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int stride = (width * 3 + 3) & ~3;
    BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    auto* info = reinterpret_cast<BITMAPINFO*>(&header);
    const bool read = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), info,
                                DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!read) return false;

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&header, sizeof header, 1, out) == 1 &&
                         std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return std::fclose(out) == 0 && written;
}

// `bytes` in the preview pane, in a host window of the pane's size.
bool shootPreview(const std::string& bytes, const std::wstring& path) {
    HWND host = CreateWindowExW(0, L"STATIC", L"preview", WS_POPUP | WS_VISIBLE, 0, 0, kPaneWidth,
                                kPaneHeight, nullptr, nullptr, nullptr, nullptr);
    IPreviewHandler* handler = nullptr;
    if (host == nullptr ||
        cvwin::createPreviewHandler(__uuidof(IPreviewHandler),
                                    reinterpret_cast<void**>(&handler)) != S_OK) {
        return false;
    }
    IInitializeWithStream* initialize = nullptr;
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                                        static_cast<UINT>(bytes.size()));
    const RECT rect{0, 0, kPaneWidth, kPaneHeight};
    bool shown = stream != nullptr &&
                 handler->QueryInterface(__uuidof(IInitializeWithStream),
                                         reinterpret_cast<void**>(&initialize)) == S_OK &&
                 initialize->Initialize(stream, STGM_READ) == S_OK &&
                 handler->SetWindow(host, &rect) == S_OK && handler->DoPreview() == S_OK;
    if (initialize != nullptr) initialize->Release();
    if (stream != nullptr) stream->Release();
    pumpFor(kPreviewSettleMs);
    shown = shown && saveWindow(host, path);
    handler->Unload();
    handler->Release();
    DestroyWindow(host);
    return shown;
}

// The settings window, run on its own thread as the program runs it.
bool shootSettings(const std::wstring& path) {
    std::thread program([] { cvwin::runSettingsWindow(); });
    HWND window = nullptr;
    const ULONGLONG end = GetTickCount64() + kWindowWaitMs;
    while ((window = FindWindowW(nullptr, L"Corvane Settings")) == nullptr &&
           GetTickCount64() < end) {
        Sleep(50);
    }
    bool saved = false;
    if (window != nullptr) {
        Sleep(1000);  // let it paint
        SetForegroundWindow(window);
        saved = saveWindow(window, path);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    program.join();
    return saved;
}

std::string sample(const char* name) {
    for (const auto& file : cvsamples::fitsSamples(false)) {
        if (file.name == name) return file.build();
    }
    return {};
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) {
        std::fputs("usage: corvane_screenshots FOLDER\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[1];
    LocalFree(argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool image =
        shootPreview(sample("starfield-1920x1280.fits"), folder + L"\\preview-image.bmp");
    const bool listing =
        shootPreview(cvsamples::sirilSequence(12, 5, '0'), folder + L"\\preview-sequence.bmp");
    const bool settings = shootSettings(folder + L"\\settings.bmp");
    CoUninitialize();
    std::fprintf(stderr, "preview of an image: %s, of a sequence: %s, settings window: %s\n",
                 image ? "saved" : "failed", listing ? "saved" : "failed",
                 settings ? "saved" : "failed");
    return image && listing && settings ? 0 : 1;
}

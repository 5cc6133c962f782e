// The preview handler hosted as Explorer's preview pane hosts it: a parent
// window, a stream, DoPreview, then the window captured through
// WM_PRINTCLIENT and its pixels and child controls checked. Needs a display.
#include <windows.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/utf16.h"
#include "preview/listing.h"
#include "preview/preview_picture.h"
#include "samples/text_samples.h"
#include "shell/class_ids_win.h"
#include "shell/preview_handler_win.h"
#include "shell/server_win.h"
#include "support/test_readers.h"
#include "windows/message_pump.h"
#include "windows/read_only_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

using cvtest::pumpUntil;

constexpr int kWidth = 640;
constexpr int kHeight = 400;
constexpr DWORD kGateLimitMs = 30000;
constexpr const wchar_t* kSettingsKey = L"Software\\Mirelith\\Corvane";

struct Capture {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// The window's client area as it paints it for a host that prints it.
Capture capture(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    Capture result{client.right, client.bottom, {}};
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), result.width, -result.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    const auto* words = static_cast<const DWORD*>(bits);
    for (int i = 0; i < result.width * result.height; ++i) {
        const DWORD bgr = words[i];
        result.pixels.push_back(RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF));
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return result;
}

// The smallest rectangle holding every pixel unlike `background` in the columns [from, to).
RECT inkBounds(const Capture& picture, COLORREF background, int from = 0, int to = kWidth) {
    RECT bounds{to, picture.height, from, 0};
    for (int y = 0; y < picture.height; ++y) {
        for (int x = from; x < to; ++x) {
            if (picture.at(x, y) == background) continue;
            bounds = {std::min<LONG>(bounds.left, x), std::min<LONG>(bounds.top, y),
                      std::max<LONG>(bounds.right, x + 1), std::max<LONG>(bounds.bottom, y + 1)};
        }
    }
    return bounds;
}

bool hasInk(const RECT& bounds) {
    return bounds.right > bounds.left;
}

// A stream whose reads wait until the test opens the gate: a load that takes
// as long as the test wants. With `secondReaderOnly`, only the reads of a
// thread other than the first reader's wait, and the first reader's take a
// millisecond, so a second thread has time to begin.
class GatedStream final : public cvtest::StreamOverAnother {
public:
    explicit GatedStream(IStream* inner, bool secondReaderOnly = false)
        : StreamOverAnother(inner),
          gate_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          secondReaderOnly_(secondReaderOnly) {}
    ~GatedStream() { CloseHandle(gate_); }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        InterlockedIncrement(&reads_);
        if (!firstReader_.isFirst() || !secondReaderOnly_) {
            InterlockedIncrement(&gatedReads_);
            WaitForSingleObject(gate_, kGateLimitMs);
        } else {
            Sleep(1);
        }
        return inner_->Read(out, count, got);
    }
    void open() { SetEvent(gate_); }
    LONG reads() const { return reads_; }
    LONG gatedReads() const { return gatedReads_; }

private:
    HANDLE gate_;
    bool secondReaderOnly_;
    volatile LONG reads_ = 0;
    volatile LONG gatedReads_ = 0;
    cvtest::FirstCaller firstReader_;
};

class PreviewHandler : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        host_ = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host_, nullptr);
    }
    void TearDown() override {
        if (handler_ != nullptr) handler_->Release();
        DestroyWindow(host_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        EXPECT_TRUE(pumpUntil([] { return cvwin::canUnloadNow(); }))
            << "every job, handler and window gone";
    }
    void setSetting(const wchar_t* name, DWORD value) {
        ASSERT_EQ(
            RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value),
            ERROR_SUCCESS);
    }
    void create() {
        ASSERT_EQ(cvwin::createPreviewHandler(__uuidof(IPreviewHandler),
                                              reinterpret_cast<void**>(&handler_)),
                  S_OK);
    }
    template <typename Interface>
    Interface* as() {
        Interface* object = nullptr;
        EXPECT_EQ(handler_->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(&object)),
                  S_OK);
        object->Release();  // the handler keeps it alive
        return object;
    }
    HRESULT initialize(IStream* stream) {
        return as<IInitializeWithStream>()->Initialize(stream, STGM_READ);
    }
    // Starts a preview of `stream` in a window over the whole host.
    HWND start(IStream* stream) {
        EXPECT_EQ(initialize(stream), S_OK);
        const RECT rect{0, 0, kWidth, kHeight};
        EXPECT_EQ(handler_->SetWindow(host_, &rect), S_OK);
        EXPECT_EQ(handler_->DoPreview(), S_OK);
        HWND window = nullptr;
        EXPECT_EQ(as<IOleWindow>()->GetWindow(&window), S_OK);
        return window;
    }
    // Shows `bytes` and waits until `shown` holds for the window.
    HWND show(const std::string& bytes, const std::function<bool(HWND)>& shown) {
        IStream* stream = cvtest::memoryStream(bytes);
        const HWND window = start(stream);
        stream->Release();
        EXPECT_TRUE(pumpUntil([&] { return shown(window); })) << "the preview never showed";
        return window;
    }
    COLORREF background(HWND window) { return capture(window).at(0, 0); }

    HWND host_ = nullptr;
    IPreviewHandler* handler_ = nullptr;
};

// Whether the columns [0, to) hold a picture `width` wide; the sidebar, when
// shown, lies right of two thirds of the window.
bool showsPictureOfWidth(HWND window, int width, int to = kWidth * 2 / 3) {
    const Capture shot = capture(window);
    const RECT ink = inkBounds(shot, shot.at(0, 0), 0, to);
    return ink.right - ink.left == width;
}

TEST_F(PreviewHandler, FitsThePictureBesideTheSidebarOrAcrossTheWholeWindow) {
    const std::string bytes = cvtest::generatedSample("bitpix16.fits");  // 320 x 240
    for (const bool sidebar : {true, false}) {
        setSetting(L"PreviewSidebar", sidebar ? 1 : 0);
        create();
        const int pictureColumns = sidebar ? kWidth * 2 / 3 : kWidth;
        const HWND window =
            show(bytes, [&](HWND w) { return showsPictureOfWidth(w, 320, pictureColumns); });
        const Capture shot = capture(window);
        const COLORREF paper = shot.at(0, 0);
        const RECT picture = inkBounds(shot, paper, 0, pictureColumns);
        EXPECT_EQ(picture.bottom - picture.top, 240) << "drawn at its own size";
        EXPECT_EQ(picture.top, (kHeight - 240) / 2) << "centred vertically";
        const RECT right = inkBounds(shot, paper, picture.right + 1, kWidth);
        if (sidebar) {
            EXPECT_LT(picture.left, (kWidth - 320) / 2) << "the sidebar takes the right";
            EXPECT_TRUE(hasInk(right)) << "the sidebar's rows";
        } else {
            EXPECT_EQ(picture.left, (kWidth - 320) / 2);
            EXPECT_FALSE(hasInk(right));
        }
        handler_->Release();
        handler_ = nullptr;
    }
}

TEST_F(PreviewHandler, ListsASequenceInAReadOnlyBoxThatCopiesItsText) {
    create();
    const std::string bytes = cvsamples::sirilSequence(12, 3, 0);
    HWND textBox = nullptr;
    const HWND window = show(bytes, [&](HWND w) {
        textBox = FindWindowExW(w, nullptr, L"EDIT", nullptr);
        return textBox != nullptr && IsWindowVisible(textBox);
    });
    cvtest::BytesReader reader(bytes);
    const cv::ListingResult expected = cv::buildListing(reader);
    ASSERT_EQ(expected.outcome, cv::ListingOutcome::Built);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(textBox)), L'\0');
    GetWindowTextW(textBox, text.data(), static_cast<int>(text.size() + 1));
    EXPECT_EQ(cv::utf16FromUtf8(std::string(text.begin(), text.end())), expected.listing.body);
    EXPECT_NE(GetWindowLongW(textBox, GWL_STYLE) & ES_READONLY, 0);
    EXPECT_NE(GetWindowLongW(textBox, GWL_STYLE) & WS_HSCROLL, 0)
        << "a sequence report scrolls sideways";
    EXPECT_TRUE(hasInk(inkBounds(capture(window), background(window), 0, kWidth))) << "the header";

    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    MSG selectAll{textBox, WM_KEYDOWN, 'A', 0, 0, {}};
    EXPECT_EQ(handler_->TranslateAccelerator(&selectAll), S_OK);
    DWORD start = 1;
    DWORD end = 0;
    SendMessageW(textBox, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, text.size());
    MSG other{textBox, WM_KEYDOWN, 'B', 0, 0, {}};
    EXPECT_EQ(handler_->TranslateAccelerator(&other), S_FALSE) << "no frame to hand it to";
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);

    // A larger host font makes the listing's fonts again and a taller header.
    const auto boxTop = [&] {
        RECT box{};
        GetWindowRect(textBox, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        return box.top;
    };
    const LRESULT fontBefore = SendMessageW(textBox, WM_GETFONT, 0, 0);
    const LONG topBefore = boxTop();
    LOGFONTW large{};
    large.lfHeight = -40;
    wcscpy_s(large.lfFaceName, L"Liberation Sans");
    EXPECT_EQ(as<IPreviewHandlerVisuals>()->SetFont(&large), S_OK);
    EXPECT_NE(SendMessageW(textBox, WM_GETFONT, 0, 0), fontBefore);
    EXPECT_GT(boxTop(), topBefore);
}

TEST_F(PreviewHandler, ABrokenTextFileShowsOnlyTheMessageCentred) {
    create();
    const HWND window = show("#Siril sequence file\nno header here\n", [](HWND w) {
        const Capture shot = capture(w);
        return hasInk(inkBounds(shot, shot.at(0, 0)));
    });
    EXPECT_EQ(FindWindowExW(window, nullptr, L"EDIT", nullptr), nullptr);
    const Capture shot = capture(window);
    const RECT ink = inkBounds(shot, shot.at(0, 0));
    EXPECT_NEAR((ink.top + ink.bottom) / 2, kHeight / 2, 4);
    EXPECT_NEAR((ink.left + ink.right) / 2, kWidth / 2, 4);
}

TEST_F(PreviewHandler, TheLookComesFromTheSettingOrTheSystemAndDarkIgnoresTheHost) {
    struct Case {
        bool darkSetting;
        COLORREF expected;
    };
    for (const Case& c : {Case{true, 0x202020}, Case{false, RGB(10, 20, 30)}}) {
        setSetting(L"PreviewDarkBackground", c.darkSetting ? 1 : 0);
        create();
        auto* visuals = as<IPreviewHandlerVisuals>();
        EXPECT_EQ(visuals->SetBackgroundColor(RGB(10, 20, 30)), S_OK);
        EXPECT_EQ(visuals->SetTextColor(RGB(200, 0, 0)), S_OK);
        const HWND window = show("#Siril sequence file\nno header here\n", [](HWND w) {
            const Capture shot = capture(w);
            return hasInk(inkBounds(shot, shot.at(0, 0)));
        });
        EXPECT_EQ(background(window), c.expected) << "dark setting " << c.darkSetting;
        handler_->Release();
        handler_ = nullptr;
    }
}

TEST_F(PreviewHandler, AnswersTheHostsCallsInEveryState) {
    create();
    EXPECT_EQ(handler_->DoPreview(), E_UNEXPECTED) << "no stream yet";
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(as<IOleWindow>()->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(as<IOleWindow>()->ContextSensitiveHelp(TRUE), E_NOTIMPL);
    EXPECT_EQ(handler_->SetFocus(), S_FALSE);
    SetFocus(nullptr);
    EXPECT_EQ(handler_->QueryFocus(&window), E_FAIL) << "no focus is no success";
    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(as<IObjectWithSite>()->GetSite(__uuidof(IUnknown), &site), E_FAIL);
    EXPECT_EQ(site, nullptr);

    const std::string bytes = cvtest::generatedSample("bitpix8.fits");
    show(bytes, [](HWND w) { return hasInk(inkBounds(capture(w), capture(w).at(0, 0))); });
    EXPECT_EQ(handler_->DoPreview(), E_FAIL) << "already previewing";
    IStream* again = cvtest::memoryStream(bytes);
    EXPECT_EQ(initialize(again), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    EXPECT_EQ(handler_->Unload(), S_OK);
    EXPECT_EQ(as<IOleWindow>()->GetWindow(&window), E_FAIL) << "Unload closes the window";
    EXPECT_EQ(initialize(again), S_OK) << "and the handler can preview again";
    EXPECT_EQ(handler_->DoPreview(), S_OK);
    again->Release();
}

TEST_F(PreviewHandler, AJobThatOutlivesUnloadDoesNotPublishOverTheNextPreview) {
    create();
    IStream* inner = cvtest::memoryStream(cvtest::generatedSample("bitpix8.fits"));
    GatedStream slow(inner);
    start(&slow);
    ASSERT_TRUE(pumpUntil([&] { return slow.reads() > 0; }));
    EXPECT_EQ(handler_->Unload(), S_OK) << "after waiting at most five seconds";

    const HWND window = show(cvtest::generatedSample("bitpix16.fits"),
                             [](HWND w) { return showsPictureOfWidth(w, 320); });
    const Capture before = capture(window);
    slow.open();
    const auto onlyTheTestHoldsIt = [this] {
        handler_->AddRef();
        return handler_->Release() == 1;
    };
    ASSERT_TRUE(pumpUntil(onlyTheTestHoldsIt)) << "both jobs end";
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(capture(window).pixels, before.pixels) << "the old job's picture never shows";
    EXPECT_EQ(slow.reads(), 1)
        << "past the read it was in, the old job never touches its stream again";
    inner->Release();
}

// A frame of megabytes has its bands read ahead on a second thread; a job
// cancelled while that thread waits in a read stops there: neither thread
// reads its stream again.
TEST_F(PreviewHandler, ACancelledJobsReadAheadStopsAtTheReadItWasIn) {
    create();
    IStream* inner = cvtest::memoryStream(cvtest::generatedSample("starfield-1920x1280.fits"));
    GatedStream slow(inner, true);
    start(&slow);
    ASSERT_TRUE(pumpUntil([&] { return slow.gatedReads() > 0; })) << "the bands are read ahead";
    EXPECT_EQ(handler_->Unload(), S_OK);
    const LONG reads = slow.reads();
    slow.open();
    const auto onlyTheTestHoldsIt = [this] {
        handler_->AddRef();
        return handler_->Release() == 1;
    };
    ASSERT_TRUE(pumpUntil(onlyTheTestHoldsIt)) << "the job ends";
    EXPECT_EQ(slow.reads(), reads);
    inner->Release();
}

TEST_F(PreviewHandler, AHostLettingGoMidLoadClosesTheWindowAndTheJobFreesTheHandler) {
    create();
    IStream* inner = cvtest::memoryStream(cvtest::generatedSample("bitpix16.fits"));
    GatedStream slow(inner);
    const HWND window = start(&slow);
    ASSERT_TRUE(pumpUntil([&] { return slow.reads() > 0; }));
    handler_->Release();  // the host lets go without Unload; the job holds the last reference
    handler_ = nullptr;
    slow.open();
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }))
        << "destroyed on this thread, the window's own";
    EXPECT_EQ(slow.reads(), 1) << "the host let go, so the loading stopped";
    EXPECT_TRUE(pumpUntil([] { return cvwin::canUnloadNow(); }));
    inner->Release();
}

struct HostThread {
    IClassFactory* factory;
    GatedStream* stream;
    bool letsGo;
    IPreviewHandler* handler = nullptr;
};

// A host's thread that shows a slow preview and ends, having let go of the
// handler or leaving that to another thread; its windows end with it,
// unannounced.
DWORD WINAPI previewAndEnd(void* context) {
    auto& host = *static_cast<HostThread*>(context);
    const HWND parent = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, kWidth,
                                        kHeight, nullptr, nullptr, nullptr, nullptr);
    IInitializeWithStream* initialize = nullptr;
    if (FAILED(host.factory->CreateInstance(nullptr, IID_PPV_ARGS(&initialize)))) return 1;
    initialize->Initialize(host.stream, STGM_READ);
    initialize->QueryInterface(IID_PPV_ARGS(&host.handler));
    initialize->Release();
    const RECT rect{0, 0, kWidth, kHeight};
    host.handler->SetWindow(parent, &rect);
    host.handler->SetRect(&rect);
    host.handler->DoPreview();
    const bool loading = pumpUntil([&] { return host.stream->reads() > 0; });
    if (host.letsGo) host.handler->Release();
    return loading ? 0 : 1;
}

// Once the stream finishes, the job frees the handler from its own thread,
// and the library may go.
TEST(PreviewHost, AHostThreadEndingMidLoadLeavesTheLibraryFreeToUnload) {
    const HMODULE module = LoadLibraryW(L"Corvane.dll");
    ASSERT_NE(module, nullptr);
    const auto getClassObject = reinterpret_cast<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    const auto canUnloadNow = reinterpret_cast<HRESULT(__stdcall*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    IStream* inner = cvtest::memoryStream(cvtest::generatedSample("bitpix16.fits"));
    for (const bool letsGoOnItsThread : {true, false}) {
        GatedStream slow(inner);
        HostThread host{nullptr, &slow, letsGoOnItsThread};
        ASSERT_EQ(getClassObject(cvwin::kPreviewHandlerClsid, IID_PPV_ARGS(&host.factory)), S_OK);
        const HANDLE thread = CreateThread(nullptr, 0, previewAndEnd, &host, 0, nullptr);
        DWORD code = 1;
        EXPECT_EQ(WaitForSingleObject(thread, kGateLimitMs), WAIT_OBJECT_0);
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        ASSERT_EQ(code, 0u) << "still loading when its thread ended";
        host.factory->Release();
        if (!letsGoOnItsThread) host.handler->Release();
        EXPECT_EQ(canUnloadNow(), S_FALSE) << "the job holds the handler";
        slow.open();
        EXPECT_TRUE(pumpUntil([&] { return canUnloadNow() == S_OK; }))
            << "let go on its thread: " << letsGoOnItsThread;
        EXPECT_EQ(slow.reads(), 1) << "the loading stopped when the host let go";
    }
    inner->Release();
    FreeLibrary(module);
}

}  // namespace

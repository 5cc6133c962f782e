// CorvaneSettings.exe: its command line read directly, and the program run
// as the shell's verbs and the user run it, its window driven from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/command_line_win.h"
#include "settings/thumbnail_refresh_win.h"
#include "windows/beside_tests.h"
#include "windows/test_process.h"

namespace {

using cvtest::besideTests;
using cvtest::keyExists;

using Kind = cvwin::SettingsCommand::Kind;

constexpr const wchar_t* kSettingsKey = L"Software\\Mirelith\\Corvane";
constexpr DWORD kProcessWaitMs = 60000;
constexpr DWORD kWindowWaitMs = 20000;
constexpr const wchar_t* kPreviewPoint = L"\\ShellEx\\{8895B1C6-B41F-4C1C-A562-0D564250836F}";

std::wstring association(const wchar_t* extension) {
    return std::wstring(L"Software\\Classes\\SystemFileAssociations\\") + extension + kPreviewPoint;
}

std::wstring settingsCommand(const std::wstring& arguments) {
    return L"\"" + besideTests(L"CorvaneSettings.exe") + L"\" " + arguments;
}

DWORD runSettings(const std::wstring& arguments) {
    return cvtest::runToEnd(settingsCommand(arguments), kProcessWaitMs);
}

// Removes what a per-user registration and its switches left, through the server itself.
void removeUserRegistration() {
    HMODULE server = LoadLibraryW(besideTests(L"Corvane.dll").c_str());
    ASSERT_NE(server, nullptr);
    using Install = HRESULT(__stdcall*)(BOOL, PCWSTR);
    const auto install =
        reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(server, "DllInstall")));
    ASSERT_NE(install, nullptr);
    install(FALSE, L"user");
    FreeLibrary(server);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
}

TEST(SettingsCommandLine, ChoosesTheModeAsTheVerbsAndTheElevatedRunWriteIt) {
    struct Case {
        const wchar_t* arguments;
        Kind kind;
        const wchar_t* enabled;  // ApplyAssociations: every switch, .fz's from the .fits digit
    };
    const Case cases[] = {
        {L" --apply-associations 1111100", Kind::ApplyAssociations, L"11111001"},
        {L" --apply-associations 1011111", Kind::ApplyAssociations, L"10111110"},
        {L" --apply-associations 11111", Kind::BadArguments, nullptr},
        {L" --apply-associations 11x1111", Kind::BadArguments, nullptr},
        {L" /refresh C:\\a.fits --apply-associations 1111111", Kind::Refresh, nullptr},
        {L" /refreshC:\\a.fits", Kind::Window, nullptr},
        {L" /refresh", Kind::Refresh, nullptr},
        {L" --apply-associations 1111111; rm -rf", Kind::BadArguments, nullptr},
        {L" xx--apply-associations 1111111yy", Kind::BadArguments, nullptr},
        {L" --apply-associations 11111110", Kind::BadArguments, nullptr},
        {L"", Kind::Window, nullptr},
    };
    for (const Case& c : cases) {
        const cvwin::SettingsCommand command = cvwin::parseSettingsCommand(c.arguments);
        EXPECT_EQ(command.kind, c.kind)
            << std::string(c.arguments, c.arguments + wcslen(c.arguments));
        if (c.enabled == nullptr) continue;
        for (std::size_t i = 0; i < command.enabled.size(); ++i)
            EXPECT_EQ(command.enabled[i], c.enabled[i] == L'1');
        EXPECT_EQ(L" " + cvwin::applyAssociationsArguments(command.enabled), c.arguments);
    }
    EXPECT_EQ(cvwin::parseSettingsCommand(L"/refresh \"C:\\x y\\\"").target, L"\"C:\\x y\\\"");
    EXPECT_EQ(cvwin::argumentsOf(L"\"C:\\Program Files\\CorvaneSettings.exe\" /refresh x"),
              L" /refresh x");
    EXPECT_EQ(cvwin::argumentsOf(L"CorvaneSettings.exe --apply-associations 1"),
              L" --apply-associations 1");
}

TEST(SettingsCommandLine, CleansTheRefreshPathButKeepsADriveRoot) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\", L"C:\\"},
        {L"\"C:\\\"", L"C:\\"},
        {L"C:\\Frames\\", L"C:\\Frames"},
        {L" \"C:\\My Frames\\\\\" ", L"C:\\My Frames"},
        {L"\"\"", L""},
    };
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ(cvwin::cleanRefreshPath(argument), expected);
}

TEST(ThumbnailRefresh, WalksOnlyTheServedFilesDirectlyInTheFolder) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "corvane-refresh-walk";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "sub");
    for (const char* name : {"A.XISF", "b.fits", "c.txt", "noextension", "sub/d.fits"})
        std::ofstream(folder / name) << "x";
    std::vector<std::wstring> names;
    cvwin::refreshFolder(folder.wstring(),
                         [&](const std::wstring& name, std::size_t index, std::size_t total) {
                             EXPECT_EQ(index, names.size());
                             EXPECT_EQ(total, 2u);
                             names.push_back(name);
                             return true;
                         });
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"A.XISF", L"b.fits"}));
    std::size_t visited = 0;
    cvwin::refreshFolder(folder.wstring(), [&](const std::wstring&, std::size_t, std::size_t) {
        return ++visited < 1;
    });
    EXPECT_EQ(visited, 1u) << "a callback's false stops the walk";

    EXPECT_EQ(runSettings(L"/refresh \"" + folder.wstring() + L"\\\""), 0u)
        << "the folder, with its progress window";
    std::filesystem::remove_all(folder / "sub");
    for (const char* name : {"A.XISF", "b.fits"}) std::filesystem::remove(folder / name);
    EXPECT_EQ(runSettings(L"/refresh " + folder.wstring()), 0u) << "nothing to refresh";
    EXPECT_EQ(runSettings(L"/refresh " + (folder / "missing.fits").wstring()), 1u)
        << "a file the shell's cache cannot renew (Wine has no such cache)";
    EXPECT_EQ(runSettings(L"/refresh"), 1u) << "no path: nothing refreshed, and no window";
    std::filesystem::remove_all(folder);
}

// An all-users install registered elsewhere: this copy must not register
// itself for every user.
TEST(SettingsProgram, AnotherCopyDoesNotTakeOverAnAllUsersInstall) {
    const std::wstring installed =
        L"Software\\Classes\\CLSID\\{1471463E-2231-4DB4-8833-62E2EA47742C}";
    const std::wstring elsewhere = L"C:\\Program Files\\Corvane\\Corvane.dll";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, (installed + L"\\InprocServer32").c_str(),
                              nullptr, REG_SZ, elsewhere.c_str(),
                              static_cast<DWORD>((elsewhere.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(runSettings(L"--apply-associations 1111111"), 1u);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kSettingsKey)) << "no switch written for all users";
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, association(L".xisf")));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, installed.c_str());
}

// Wine's token is always elevated: a registration picked by the token would
// land machine-wide. The switches and the registration stay with the user.
TEST(SettingsProgram, AppliesAssociationsUnderTheInstallRootWhateverTheToken) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(runSettings(L"--apply-associations 11111"), 2u);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kSettingsKey)) << "nothing written";

    ASSERT_EQ(runSettings(L"--apply-associations 1111100"), 0u);
    DWORD value = 1;
    DWORD size = sizeof value;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"Registerseq", RRF_RT_REG_DWORD,
                           nullptr, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, association(L".xisf")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, association(L".seq")));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE,
                           L"Software\\Classes\\CLSID\\{1471463E-2231-4DB4-8833-62E2EA47742C}"));
    removeUserRegistration();
}

// The window once it is shown, that is, once it has made its controls.
HWND waitForWindow(const wchar_t* className, const wchar_t* title) {
    const ULONGLONG end = GetTickCount64() + kWindowWaitMs;
    HWND window = nullptr;
    while (((window = FindWindowW(className, title)) == nullptr || !IsWindowVisible(window)) &&
           GetTickCount64() < end) {
        Sleep(20);
    }
    return window;
}

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)), L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size() + 1));
    return text;
}

// The program's icon at `size`: a bright star in the middle of a dark sky.
void expectIconDrawn(int size) {
    HMODULE program = LoadLibraryExW(besideTests(L"CorvaneSettings.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    auto icon =
        static_cast<HICON>(LoadImageW(program, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    FreeLibrary(program);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info)) << size;
    BITMAPINFO header{};
    header.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(static_cast<std::size_t>(size * size));
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(size), pixels.data(), &header,
                        DIB_RGB_COLORS),
              size);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    const auto brightness = [&](int x, int y) {
        const DWORD bgra = pixels[static_cast<std::size_t>(y * size + x)];
        return (bgra & 0xFF) + ((bgra >> 8) & 0xFF) + ((bgra >> 16) & 0xFF);
    };
    EXPECT_GT(brightness(size / 2, size / 2), 700u) << size << ": the star";
    EXPECT_LT(brightness(size * 9 / 32, size / 5), 300u) << size << ": the sky";
}

TEST(SettingsProgram, ItsIconReadsAtEverySize) {
    for (const int size : {16, 32, 64, 256}) expectIconDrawn(size);
}

TEST(SettingsProgram, ShowsTheStoredChoicesAndAppliesThem) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    const DWORD off = 0;
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Registerseq", REG_DWORD, &off, sizeof off);
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"AutoStretch", REG_DWORD, &off, sizeof off);
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"LabelFormat", REG_DWORD, &off, sizeof off);
    // A deletion (a name, then an empty target) comes first, as installers leave them.
    const std::wstring pendingRename = L"\\??\\" + besideTests(L"Corvane.dll") + L".old";
    std::wstring renames = std::wstring(L"\\??\\C:\\windows\\temp\\corvane-test.tmp") + L'\0' +
                           L'\0' + pendingRename + L'\0' + L'\0' + L'\0';
    const wchar_t* sessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations",
                              REG_MULTI_SZ, renames.c_str(),
                              static_cast<DWORD>(renames.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);

    cvtest::TestProcess settings(settingsCommand(L""));
    const HWND window = waitForWindow(L"CorvaneSettingsWindow", L"Corvane Settings");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(window, 1300)), L"Corvane 1.2.0");
    EXPECT_EQ(textOf(GetDlgItem(window, 1101)), L".fit / .fits / .fz");
    for (int box = 1100; box <= 1104; ++box)
        EXPECT_EQ(IsDlgButtonChecked(window, box), BST_CHECKED) << box;
    EXPECT_EQ(IsDlgButtonChecked(window, 1105), BST_UNCHECKED) << ".seq switched off";
    EXPECT_EQ(IsDlgButtonChecked(window, 1200), BST_UNCHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 1207))) << "no label, no corner";
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, 1311)))
        << "a rename of the server waits for a restart";
    const int dpi = static_cast<int>(GetDpiForWindow(window));
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, MulDiv(560, dpi, 96));
    RECT apply{};
    GetWindowRect(GetDlgItem(window, 1205), &apply);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&apply), 2);
    EXPECT_EQ(apply.top, MulDiv(152 + 506, dpi, 96)) << "40 units lower with the notice";

    EXPECT_NE(SendDlgItemMessageW(window, 1010, STM_GETICON, 0, 0), 0)
        << "the program's icon shown";

    SendMessageW(GetDlgItem(window, 1206), BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, 1207)))
        << "a label again, so a corner to choose";
    SendMessageW(GetDlgItem(window, 1101), BM_CLICK, 0, 0);  // ".fit / .fits / .fz" off

    SendMessageW(GetDlgItem(window, 1205), BM_CLICK, 0, 0);
    EXPECT_EQ(textOf(GetDlgItem(window, 1005)),
              L"Options saved and file types updated. Use Refresh thumbnails so the new file types "
              L"are picked up.");
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, association(L".fts")));
    for (const wchar_t* switchedOff : {L".seq", L".fit", L".fits", L".fz"}) {
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, association(switchedOff)))
            << "one box for .fit and .fits";
    }
    DWORD labelled = 0;
    DWORD size = sizeof labelled;
    RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"LabelFormat", RRF_RT_REG_DWORD, nullptr,
                 &labelled, &size);
    EXPECT_EQ(labelled, 1u);
    DWORD fz = 1;
    size = sizeof fz;
    RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"Registerfz", RRF_RT_REG_DWORD, nullptr, &fz,
                 &size);
    EXPECT_EQ(fz, 0u) << "the box switches .fz with .fit and .fits";
    SendMessageW(GetDlgItem(window, 1205), BM_CLICK, 0, 0);
    EXPECT_EQ(textOf(GetDlgItem(window, 1005)),
              L"Options saved. They apply to thumbnails drawn from now on; ones Windows has "
              L"already stored keep their "
              L"old look until you use Refresh thumbnails.");
    SendMessageW(GetDlgItem(window, 1101), BM_CLICK, 0, 0);  // on again
    SendMessageW(GetDlgItem(window, 1205), BM_CLICK, 0, 0);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, association(L".fz")));

    PostMessageW(GetDlgItem(window, 1009), BM_CLICK, 0, 0);
    const HWND warning = waitForWindow(L"#32770", L"Corvane");
    EXPECT_NE(warning, nullptr) << "no help page beside the tests: the warning box";
    if (warning != nullptr) PostMessageW(warning, WM_COMMAND, IDOK, 0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(settings.exitCode(kProcessWaitMs), 0u);
    removeUserRegistration();
}

}  // namespace

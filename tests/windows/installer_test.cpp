// The installer run silently as a user or an administrator runs it, then its
// uninstaller: files, the documented registration, the installed-programs
// entry and the Start-menu shortcut, and what is left afterwards.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "corvane/version.h"
#include "windows/beside_tests.h"
#include "windows/documented_registration.h"
#include "windows/test_process.h"

namespace {

using cvtest::keyExists;
using cvtest::Lines;
using cvtest::narrow;
using cvtest::widen;

constexpr DWORD kSetupWaitMs =
    60000;  // under the test's own two minutes, for the longest of three runs
constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";
constexpr const wchar_t* kSettingsKey = L"Software\\Mirelith\\Corvane";
constexpr const wchar_t* kThumbnailClass =
    L"Software\\Classes\\CLSID\\{1471463E-2231-4DB4-8833-62E2EA47742C}";

DWORD run(const std::wstring& command) {
    return cvtest::runToEnd(command, kSetupWaitMs);
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    EXPECT_EQ(SHGetKnownFolderPath(id, 0, nullptr, &path), S_OK);
    std::wstring result = path != nullptr ? path : L"";
    CoTaskMemFree(path);
    return result;
}

std::wstring setupProgram() {
    return L"\"" + cvtest::besideTests(L"CorvaneSetup-" CORVANE_VERSION_W L".exe") + L"\"";
}

// The lines of `expected` ("key|name=value", keys below `base`) the registry does not hold.
Lines missingFrom(HKEY root, const std::wstring& base, const Lines& expected) {
    Lines missing;
    for (const std::string& line : expected) {
        const auto bar = line.find('|');
        const auto equals = line.find('=', bar);
        const std::wstring key = base + L"\\" + widen(line.substr(0, bar));
        const std::string name = line.substr(bar + 1, equals - bar - 1);
        wchar_t value[1024] = {};
        DWORD bytes = sizeof value - sizeof(wchar_t);
        const bool found =
            RegGetValueW(root, key.c_str(), name == "@" ? nullptr : widen(name).c_str(),
                         RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS;
        if (!found || narrow(value) != line.substr(equals + 1)) missing.push_back(line);
    }
    return missing;
}

std::wstring textValue(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, value, &bytes);
    return value;
}

void expectListedAsInstalled(HKEY root, const std::wstring& folder, const std::wstring& mode) {
    EXPECT_EQ(textValue(root, kUninstallKey, L"DisplayName"), L"Corvane");
    EXPECT_EQ(textValue(root, kUninstallKey, L"DisplayVersion"), CORVANE_VERSION_W);
    EXPECT_EQ(textValue(root, kUninstallKey, L"Publisher"), L"Mirelith");
    EXPECT_EQ(textValue(root, kUninstallKey, L"DisplayIcon"), folder + L"\\CorvaneSettings.exe,0");
    EXPECT_EQ(textValue(root, kUninstallKey, L"UninstallString"),
              L"\"" + folder + L"\\Uninstall.exe\"" + mode);
    EXPECT_EQ(textValue(root, kUninstallKey, L"QuietUninstallString"),
              L"\"" + folder + L"\\Uninstall.exe\" /S" + mode);
    DWORD size = 0;
    DWORD bytes = sizeof size;
    EXPECT_EQ(RegGetValueW(root, kUninstallKey, L"EstimatedSize", RRF_RT_REG_DWORD, nullptr, &size,
                           &bytes),
              ERROR_SUCCESS);
    EXPECT_GT(size, 1000u) << "kilobytes";
}

void expectInstalledFiles(const std::wstring& folder) {
    for (const wchar_t* file : {L"Corvane.dll", L"Corvane.propdesc", L"CorvaneSettings.exe",
                                L"doc\\index.html", L"Uninstall.exe"}) {
        EXPECT_TRUE(std::filesystem::exists(folder + L"\\" + file)) << narrow(file);
    }
}

// `_?=` keeps the uninstaller in place, so the test waits for it; it is the
// one file left, and the test removes it.
void uninstall(const std::wstring& folder) {
    ASSERT_EQ(run(L"\"" + folder + L"\\Uninstall.exe\" /S _?=" + folder), 0u);
    std::vector<std::wstring> left;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        left.push_back(entry.path().filename().wstring());
    }
    EXPECT_EQ(left, std::vector<std::wstring>{L"Uninstall.exe"});
    std::filesystem::remove_all(folder, ignored);
}

TEST(Installer, InstallsForTheUserWithoutRightsAndUninstallsKeepingTheSettings) {
    const std::wstring folder = knownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Corvane";
    const std::wstring shortcut = knownFolder(FOLDERID_Programs) + L"\\Corvane Settings.lnk";
    ASSERT_EQ(run(setupProgram() + L" /S"), 0u);
    expectInstalledFiles(folder);
    EXPECT_EQ(missingFrom(HKEY_CURRENT_USER, L"Software\\Classes",
                          cvtest::documentedClasses(narrow(folder + L"\\Corvane.dll"))),
              Lines{});
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kThumbnailClass)) << "nothing for all users";
    expectListedAsInstalled(HKEY_CURRENT_USER, folder, L"");
    EXPECT_TRUE(std::filesystem::exists(shortcut));

    const DWORD brighter = 2;
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Brightness", REG_DWORD, &brighter,
                    sizeof brighter);
    ASSERT_EQ(run(setupProgram() + L" /S"), 0u) << "installed again over itself";
    expectInstalledFiles(folder);

    uninstall(folder);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kThumbnailClass));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kUninstallKey));
    EXPECT_FALSE(std::filesystem::exists(shortcut));
    DWORD kept = 0;
    DWORD bytes = sizeof kept;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"Brightness", RRF_RT_REG_DWORD,
                           nullptr, &kept, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(kept, brighter) << "the user's settings stay";
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
}

// Wine's token is always elevated, so the all-users mode runs as an administrator would.
TEST(Installer, InstallsForAllUsersInPlaceOfTheUsersOwnWithThePropertyHandlers) {
    const std::wstring folder = knownFolder(FOLDERID_ProgramFiles) + L"\\Corvane";
    ASSERT_EQ(run(setupProgram() + L" /S"), 0u);
    ASSERT_EQ(run(setupProgram() + L" /S /ALLUSERS"), 0u);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kThumbnailClass)) << "the user's own install is gone";
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kUninstallKey));
    EXPECT_FALSE(
        std::filesystem::exists(knownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Corvane"));
    EXPECT_EQ(run(setupProgram() + L" /S"), 1u) << "no user's own install over the machine's";
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kThumbnailClass));
    expectInstalledFiles(folder);
    EXPECT_EQ(missingFrom(HKEY_LOCAL_MACHINE, L"Software\\Classes",
                          cvtest::documentedClasses(narrow(folder + L"\\Corvane.dll"))),
              Lines{});
    EXPECT_EQ(missingFrom(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                          cvtest::documentedLists()),
              Lines{});
    expectListedAsInstalled(HKEY_LOCAL_MACHINE, folder, L" /ALLUSERS");
    EXPECT_TRUE(
        std::filesystem::exists(knownFolder(FOLDERID_CommonPrograms) + L"\\Corvane Settings.lnk"));

    uninstall(folder);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kThumbnailClass));
    EXPECT_FALSE(keyExists(
        HKEY_LOCAL_MACHINE,
        L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.xisf"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(
        std::filesystem::exists(knownFolder(FOLDERID_CommonPrograms) + L"\\Corvane Settings.lnk"));
}

}  // namespace

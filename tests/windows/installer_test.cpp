// The installer run silently as a user or an administrator runs it, then its
// uninstaller: files, the documented registration, the installed-programs
// entry and the Start-menu shortcut, and what is left afterwards.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "corvane/version.h"
#include "windows/beside_tests.h"
#include "windows/documented_registration.h"
#include "windows/planted_marker.h"
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
constexpr const wchar_t* kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kCleanupValues[] = {L"CorvaneUserInstallCleanup",
                                             L"CorvaneShortcutCleanup"};
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

// Whether the registry holds `line` ("key|name=value", the key below `base`).
bool holds(HKEY root, const std::wstring& base, const std::string& line) {
    const auto bar = line.find('|');
    const auto equals = line.find('=', bar);
    const std::wstring key = base + L"\\" + widen(line.substr(0, bar));
    const std::string name = line.substr(bar + 1, equals - bar - 1);
    wchar_t value[1024] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    return RegGetValueW(root, key.c_str(), name == "@" ? nullptr : widen(name).c_str(),
                        RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS &&
           narrow(value) == line.substr(equals + 1);
}

Lines missingFrom(HKEY root, const std::wstring& base, const Lines& expected) {
    Lines missing;
    for (const std::string& line : expected) {
        if (!holds(root, base, line)) missing.push_back(line);
    }
    return missing;
}

Lines presentIn(HKEY root, const std::wstring& base, const Lines& lines) {
    Lines present;
    for (const std::string& line : lines) {
        if (holds(root, base, line)) present.push_back(line);
    }
    return present;
}

std::wstring textValue(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, value, &bytes);
    return value;
}

// Runs what the installer left for the user's next sign-in, as that sign-in would.
void signIn() {
    for (const wchar_t* value : kCleanupValues) {
        const std::wstring command = textValue(HKEY_CURRENT_USER, kRunOnceKey, value);
        EXPECT_FALSE(command.empty()) << narrow(value);
        if (!command.empty()) run(command);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnceKey, value);
    }
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

std::vector<std::wstring> filesIn(const std::wstring& folder) {
    std::vector<std::wstring> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
        files.push_back(std::filesystem::relative(entry.path(), folder).wstring());
    }
    return files;
}

// `_?=` keeps the uninstaller in place, so the test waits for it; it is the
// one file left, and the test removes it.
void uninstall(const std::wstring& folder) {
    ASSERT_EQ(run(L"\"" + folder + L"\\Uninstall.exe\" /S _?=" + folder), 0u);
    EXPECT_EQ(filesIn(folder), std::vector<std::wstring>{L"Uninstall.exe"});
    std::error_code ignored;
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
    signIn();
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

struct Planting {
    const char* name;
    bool uninstaller;     // false: the install's own uninstaller stays, to reach the library
    bool entryElsewhere;  // the user's entry names another program's folder with an uninstaller
};

void PrintTo(const Planting& planting, std::ostream* out) {
    *out << planting.name;
}

// A program and a library planted in the user's own install leave their mark
// in `marker` if the elevated install runs or loads them.
class InstallerOverPlantedFiles : public ::testing::TestWithParam<Planting> {
protected:
    void SetUp() override {
        std::filesystem::remove(marker);
        SetEnvironmentVariableW(cvtest::kPlantedMarkerVariable, marker.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(cvtest::kPlantedMarkerVariable, nullptr);
        std::filesystem::remove(marker);
    }
    std::string marks() const {
        std::ifstream file{std::filesystem::path(marker)};
        return {std::istreambuf_iterator<char>(file), {}};
    }
    const std::wstring marker = cvtest::besideTests(L"planted-marker.txt");
    const std::wstring program = cvtest::besideTests(L"corvane_planted_program.exe");
    const std::wstring library = cvtest::besideTests(L"corvane_planted_library.dll");
};

TEST_F(InstallerOverPlantedFiles, PlantsLeaveTheirMarkWhenRunOrLoaded) {
    EXPECT_EQ(run(L"\"" + program + L"\""), 0u);
    FreeLibrary(LoadLibraryW(library.c_str()));
    EXPECT_EQ(marks(), "program\nlibrary\n");
}

TEST_P(InstallerOverPlantedFiles, RunsNothingOfTheUsersOwnInstallAndRemovesItByName) {
    const bool entryNamesAnotherFolder = GetParam().entryElsewhere;
    const std::wstring userFolder = knownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Corvane";
    const std::wstring elsewhere = knownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Another";
    const std::wstring machineFolder = knownFolder(FOLDERID_ProgramFiles) + L"\\Corvane";
    ASSERT_EQ(run(setupProgram() + L" /S"), 0u);
    if (GetParam().uninstaller) {
        std::filesystem::copy_file(program, userFolder + L"\\Uninstall.exe",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::filesystem::copy_file(library, userFolder + L"\\Corvane.dll",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(std::filesystem::path(userFolder + L"\\notes.txt")) << "the user's own";
    if (entryNamesAnotherFolder) {
        std::filesystem::create_directories(elsewhere);
        std::filesystem::copy_file(program, elsewhere + L"\\Uninstall.exe");
        RegSetKeyValueW(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation", REG_SZ,
                        elsewhere.c_str(),
                        static_cast<DWORD>((elsewhere.size() + 1) * sizeof(wchar_t)));
    }

    ASSERT_EQ(run(setupProgram() + L" /S /ALLUSERS"), 0u);
    EXPECT_EQ(marks(), "") << "nothing planted was run or loaded";
    EXPECT_EQ(presentIn(HKEY_CURRENT_USER, L"Software\\Classes",
                        cvtest::documentedClasses(narrow(userFolder + L"\\Corvane.dll"))),
              cvtest::keptContentTypes())
        << "the user's registration is gone";
    EXPECT_EQ(filesIn(userFolder).size(), 7u) << "nothing deleted with the elevated rights";
    EXPECT_TRUE(
        std::filesystem::exists(knownFolder(FOLDERID_Programs) + L"\\Corvane Settings.lnk"));
    signIn();
    EXPECT_FALSE(
        std::filesystem::exists(knownFolder(FOLDERID_Programs) + L"\\Corvane Settings.lnk"));
    EXPECT_EQ(filesIn(userFolder), std::vector<std::wstring>{L"notes.txt"})
        << "only the files an install writes are deleted";
    EXPECT_EQ(keyExists(HKEY_CURRENT_USER, kUninstallKey), entryNamesAnotherFolder)
        << "an entry naming another folder stays for the user to act on";
    EXPECT_EQ(filesIn(elsewhere), entryNamesAnotherFolder
                                      ? std::vector<std::wstring>{L"Uninstall.exe"}
                                      : std::vector<std::wstring>{});
    expectInstalledFiles(machineFolder);

    uninstall(machineFolder);
    std::error_code ignored;
    std::filesystem::remove_all(userFolder, ignored);
    std::filesystem::remove_all(elsewhere, ignored);
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
}

INSTANTIATE_TEST_SUITE_P(Installer, InstallerOverPlantedFiles,
                         ::testing::Values(Planting{"UninstallerAndServer", true, false},
                                           Planting{"ServerOnly", false, false},
                                           Planting{"EntryNamingAnotherFolder", true, true}),
                         [](const ::testing::TestParamInfo<Planting>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace

#include "settings/command_line_win.h"

#include <algorithm>
#include <iterator>

namespace cvwin {

namespace {

constexpr std::wstring_view kRefreshSwitch = L"/refresh";
constexpr std::wstring_view kApplySwitch = L"--apply-associations ";

// The digit each served extension, in registration order, is switched by.
constexpr std::size_t kDigitCount = 7;
constexpr std::size_t kFitsDigit = 1;
constexpr std::size_t kDigitOf[] = {0, 1, 2, 3, 4, 5, 6, kFitsDigit};
static_assert(std::size(kDigitOf) == kServedExtensionCount);

std::wstring_view withoutBlanks(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// Where "/refresh" stands as a word of its own: followed by a blank or by
// nothing ("/refreshC:\\a" names no mode).
std::size_t findRefreshSwitch(std::wstring_view arguments) {
    for (auto at = arguments.find(kRefreshSwitch); at != std::wstring_view::npos;
         at = arguments.find(kRefreshSwitch, at + 1)) {
        const std::size_t after = at + kRefreshSwitch.size();
        if (after == arguments.size() || arguments[after] == L' ' || arguments[after] == L'\t')
            return at;
    }
    return std::wstring_view::npos;
}

// The elevated run writes the registry, so it takes its switch and seven
// digits only as the whole command line: nothing before, nothing after.
SettingsCommand applyCommand(std::wstring_view arguments) {
    SettingsCommand command;
    command.kind = SettingsCommand::Kind::BadArguments;
    const std::wstring_view whole = withoutBlanks(arguments);
    if (!whole.starts_with(kApplySwitch)) return command;
    const std::wstring_view digits = whole.substr(kApplySwitch.size());
    if (digits.size() != kDigitCount) return command;
    for (const wchar_t digit : digits) {
        if (digit != L'0' && digit != L'1') return command;
    }
    command.kind = SettingsCommand::Kind::ApplyAssociations;
    for (std::size_t i = 0; i < kServedExtensionCount; ++i)
        command.enabled[i] = digits[kDigitOf[i]] == L'1';
    return command;
}

}  // namespace

SettingsCommand parseSettingsCommand(std::wstring_view arguments) {
    if (const auto at = findRefreshSwitch(arguments); at != std::wstring_view::npos) {
        SettingsCommand command;
        command.kind = SettingsCommand::Kind::Refresh;
        const std::size_t after = at + kRefreshSwitch.size();
        command.target = arguments.substr(std::min(after + 1, arguments.size()));
        return command;
    }
    if (arguments.find(kApplySwitch) != std::wstring_view::npos) return applyCommand(arguments);
    return SettingsCommand{};
}

std::wstring applyAssociationsArguments(const std::array<bool, kServedExtensionCount>& enabled) {
    std::wstring digits(kDigitCount, L'0');
    for (std::size_t i = 0; i < kServedExtensionCount; ++i) {
        if (enabled[i]) digits[kDigitOf[i]] = L'1';
    }
    return std::wstring(kApplySwitch) + digits;
}

std::wstring_view argumentsOf(std::wstring_view commandLine) {
    std::size_t end = 0;
    if (!commandLine.empty() && commandLine.front() == L'"') {
        end = commandLine.find(L'"', 1);
        end = end == std::wstring_view::npos ? commandLine.size() : end + 1;
    } else {
        end = commandLine.find_first_of(L" \t");
        if (end == std::wstring_view::npos) end = commandLine.size();
    }
    return commandLine.substr(end);
}

}  // namespace cvwin

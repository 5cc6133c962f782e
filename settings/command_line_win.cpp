#include "settings/command_line_win.h"

#include <iterator>

namespace cvwin {

namespace {

constexpr std::wstring_view kRefreshSwitch = L"/refresh ";
constexpr std::wstring_view kApplySwitch = L"--apply-associations ";

// The digit each served extension, in registration order, is switched by.
constexpr std::size_t kDigitCount = 7;
constexpr std::size_t kFitsDigit = 1;
constexpr std::size_t kDigitOf[] = {0, 1, 2, 3, 4, 5, 6, kFitsDigit};
static_assert(std::size(kDigitOf) == kServedExtensionCount);

}  // namespace

SettingsCommand parseSettingsCommand(std::wstring_view arguments) {
    SettingsCommand command;
    if (const auto at = arguments.find(kRefreshSwitch); at != std::wstring_view::npos) {
        command.kind = SettingsCommand::Kind::Refresh;
        command.target = arguments.substr(at + kRefreshSwitch.size());
        return command;
    }
    const auto at = arguments.find(kApplySwitch);
    if (at == std::wstring_view::npos) return command;
    const std::wstring_view digits = arguments.substr(at + kApplySwitch.size());
    command.kind = SettingsCommand::Kind::ApplyAssociations;
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        if (i >= digits.size() || (digits[i] != L'0' && digits[i] != L'1')) {
            command.kind = SettingsCommand::Kind::BadArguments;
            return command;
        }
    }
    for (std::size_t i = 0; i < kServedExtensionCount; ++i)
        command.enabled[i] = digits[kDigitOf[i]] == L'1';
    return command;
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

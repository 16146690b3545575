#include "cli/SignInStatus.h"

#include <cstdio>

#include "core/oauth/TokenRecordText.h"
#include "platform/EscapedText.h"

namespace vantel {

std::string SignInStatus::Line(const SignInTools* tools, const ServerEntry& entry,
                               std::size_t number) {
    const std::string again = "run vantel auth " + std::to_string(number);
    if (tools == nullptr || tools->tokens == nullptr) {
        return "not signed in yet: " + again;
    }
    const TokenStore::Loaded loaded = tools->tokens->Load(TokenRecordText::Key(entry.OAuth));
    if (!loaded.problem.empty()) {
        return OneLine(loaded.problem);
    }
    if (!loaded.record) {
        return "not signed in yet: " + again;
    }
    std::string error;
    const auto record = TokenRecordText::Read(*loaded.record, error);
    if (!record) {
        return "the stored sign-in cannot be read (" + OneLine(error) + "): " + again;
    }
    if (record->SignInNeeded) {
        return "must sign in again: " +
               OneLine(record->SignInNeededReason.empty() ? "the provider refused the sign-in"
                                                          : record->SignInNeededReason) +
               ": " + again;
    }
    return "signed in as " + OneLine(record->Account) + "; access until " +
           UtcTime(record->AccessExpiry);
}

std::string SignInStatus::UtcTime(std::int64_t seconds) {
    // Days to the civil date (Howard Hinnant's algorithm): no gmtime, whose thread safety and
    // range differ between systems.
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

}  // namespace vantel

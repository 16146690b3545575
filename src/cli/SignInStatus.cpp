#include "cli/SignInStatus.h"

#include <cstdio>

#include "core/oauth/TokenRecordText.h"
#include "platform/CertificateDecision.h"
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
    // The day as certificates' days are told (no gmtime, whose range and thread safety differ
    // between systems), then the time of day.
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
    }
    char time[32];
    std::snprintf(time, sizeof time, "T%02lld:%02lld:%02lldZ", static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return CertificateDay(seconds) + time;
}

}  // namespace vantel

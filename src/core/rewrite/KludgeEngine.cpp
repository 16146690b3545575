#include "core/rewrite/KludgeEngine.h"

#include "core/config/DecimalText.h"
#include "core/rewrite/KludgeEntry.h"
#include "core/rewrite/SignalKludge.h"

namespace vantel {
namespace {

/// -1/32767 in single precision (bits 0xB8000100): a magnitude just below 1/32767, so the
/// scaled draw never reaches the line count itself.
constexpr float kRandomScale = -3.05185094e-05f;

/// Text-mode reading: CR LF becomes LF.
void FoldCrLf(std::string& text) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        text[out++] = text[i];
    }
    text.resize(out);
}

}  // namespace

std::string_view KludgeEngine::ChooseFileLine(std::string_view content, int r) {
    // The text ends at a NUL: what follows is neither counted nor put into a header.
    content = content.substr(0, content.find('\0'));
    std::size_t lineCount = 0;
    for (std::size_t i = 1; i < content.size(); ++i) {
        lineCount += content[i] == '\n';
    }
    if (lineCount == 0) {
        return content;
    }
    const double scaled =
        static_cast<double>(r) * static_cast<double>(lineCount) * static_cast<double>(kRandomScale);
    const std::size_t k = static_cast<std::size_t>(1 - static_cast<long long>(scaled));
    // Line k starts after the (k-1)-th LF that stands after the first byte.
    std::size_t begin = 0;
    for (std::size_t seen = 0, i = 1; seen + 1 < k && i < content.size(); ++i) {
        if (content[i] == '\n' && ++seen + 1 == k) {
            begin = i + 1;
        }
    }
    const std::size_t end = content.find('\n', begin);
    return content.substr(begin,
                          end == std::string_view::npos ? std::string_view::npos : end - begin);
}

bool KludgeEngine::ReadKludgeFile(const std::string& path, std::string& content) {
    if (!files_.Read(path, content)) {
        return false;
    }
    FoldCrLf(content);
    return true;
}

int KludgeEngine::BuildReplacement(std::string_view substEntry, std::string& replacement) {
    std::size_t consumed = 0;
    const int action = ParseDecimalPrefix(substEntry, consumed);
    if (consumed == 0) {
        return -1;  // no action number: the kludge does nothing
    }
    const std::size_t blank = substEntry.find(' ');
    const std::string_view text =
        blank == std::string_view::npos ? std::string_view() : substEntry.substr(blank + 1);

    replacement.clear();
    switch (static_cast<KludgeAction>(action)) {
        case KludgeAction::SpecialKludge:
            replacement.assign(text);
            return action;
        case KludgeAction::TakeFromFile: {
            const std::string path(text);
            std::string content;
            replacement = "  ";
            if (!ReadKludgeFile(path, content)) {
                std::string text(kFileOpenErrorText);
                text.replace(text.find("%s"), 2, path);
                notifier_.ShowMessage(text);
            } else {
                const std::string_view line = ChooseFileLine(content, random_.Next());
                replacement.append(line.substr(0, kReplacementCapacity - 4));
            }
            replacement += "\r\n";
            return action;
        }
        default:
            replacement = "  ";
            replacement.append(text);
            replacement += "\r\n";
            return action;
    }
}

bool KludgeEngine::ApplyHeaderKludges(std::string_view line, KludgeType type, std::string& output) {
    bool handled = false;
    std::string replacement;
    const StringList& kludges = settings_.Kludges;
    const StringList& subst = settings_.Subst;
    for (std::size_t i = 0; i < kludges.size() && i < subst.size(); ++i) {
        const KludgeEntry entry = ParseKludgeEntry(kludges[i]);
        if (entry.type != static_cast<int>(type) || !MatchKludgeHeader(line, entry.headerName)) {
            continue;
        }
        switch (static_cast<KludgeAction>(BuildReplacement(subst[i], replacement))) {
            case KludgeAction::ChangeToText:
            case KludgeAction::TakeFromFile:
                output.append(entry.headerName);
                output.append(replacement);
                handled = true;
                break;
            case KludgeAction::JustDelete:
                handled = true;
                break;
            case KludgeAction::SpecialKludge: {
                const std::optional<std::string> added = ApplySpecialKludge(
                    settings_, line, FindListIndex(settings_.SignalStr, replacement));
                if (added) {
                    // The received line stays and follows what the kludges put out.
                    output.append(*added);
                    handled = false;
                }
                break;
            }
            default:
                break;
        }
    }
    return handled;
}

}  // namespace vantel

#include "core/rewrite/KludgeEngine.h"

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

void KludgeEngine::AppendFileLine(const std::string& path, std::string& output) {
    output += "  ";
    if (!files_.Read(path, fileText_)) {
        std::string text(kFileOpenErrorText);
        text.replace(text.find("%s"), 2, path);
        notifier_.ShowMessage(text);
    } else {
        FoldCrLf(fileText_);
        const std::string_view line = ChooseFileLine(fileText_, random_.Next());
        output.append(line.substr(0, kReplacementCapacity - 4));
    }
    output += "\r\n";
}

bool KludgeEngine::ApplyRefreshedKludges(std::string_view line, KludgeType type,
                                         std::string& output) {
    bool handled = false;
    for (const CompiledKludges::Kludge& kludge : compiled_.kludges()) {
        if (kludge.type != static_cast<int>(type) ||
            !MatchKludgeHeader(line, kludge.headerName, kludge.envelopeCommand)) {
            continue;
        }
        switch (kludge.action) {
            case KludgeAction::ChangeToText:
                output.append(kludge.headerName);
                output.append(kludge.text);
                handled = true;
                break;
            case KludgeAction::TakeFromFile:
                output.append(kludge.headerName);
                AppendFileLine(kludge.text, output);
                handled = true;
                break;
            case KludgeAction::JustDelete:
                handled = true;
                break;
            case KludgeAction::SpecialKludge:
                if (ApplySpecialKludge(kludge.special, line, output)) {
                    // The received line stays and follows what the kludges put out.
                    handled = false;
                }
                break;
        }
    }
    return handled;
}

}  // namespace vantel

#include "cli/RewriteCommand.h"

#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/PrintableText.h"
#include "cli/SettingsSession.h"
#include "cli/TextTable.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

/// The relay reads its sockets in blocks of this size while it traces; the rewriting gives
/// the same result however the stream is cut, and this keeps the tester on the same path.
constexpr std::size_t kBlock = 2048;

/// Largest header compared line by line; a longer one is compared as two wholes.
constexpr std::size_t kMaxDiffLines = 4000;

/// The header's lines (each with its line end), up to and without the blank line.
std::vector<std::string> HeaderLines(const std::string& message) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        end = end == std::string::npos ? message.size() : end + 1;
        const std::string line = message.substr(start, end - start);
        if (line == "\n" || line == "\r\n") {
            break;
        }
        lines.push_back(line);
        start = end;
    }
    return lines;
}

std::string Shown(char mark, std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return std::string(1, mark) + ' ' + PrintableText(line) + '\n';
}

std::string ReplaceAll(const std::string& text, std::string_view from, std::string_view to) {
    std::string replaced;
    replaced.reserve(text.size() + text.size() / 16);
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(from, start)) != std::string::npos;
         start = at + from.size()) {
        replaced.append(text, start, at - start).append(to);
    }
    return replaced.append(text, start, std::string::npos);
}

}  // namespace

std::string RewriteCommand::Rewrite(const RelaySettings& settings, KludgeType mode,
                                    const std::string& message, std::uint32_t seed,
                                    Notifier& notifier) {
    CRuntimeRandom random(seed);
    CachedKludgeFiles files;
    MessageRewriter rewriter(settings, random, notifier, files);
    StreamState state;
    std::string result;
    for (std::size_t at = 0; at < message.size(); at += kBlock) {
        result.append(rewriter.ProcessMessageBlock(std::string_view(message).substr(at, kBlock),
                                                   state, mode));
    }
    result.append(MessageRewriter::FlushStream(state));
    return result;
}

std::string RewriteCommand::HeaderDiff(const std::string& before, const std::string& after) {
    const std::vector<std::string> a = HeaderLines(before);
    const std::vector<std::string> b = HeaderLines(after);
    std::string diff;
    if (a.size() > kMaxDiffLines || b.size() > kMaxDiffLines) {
        if (a != b) {
            for (const std::string& line : a) {
                diff += Shown('-', line);
            }
            for (const std::string& line : b) {
                diff += Shown('+', line);
            }
        }
        return diff;
    }
    // Longest common subsequence of the two headers: what is not in it changed.
    std::vector<std::vector<unsigned>> common(a.size() + 1, std::vector<unsigned>(b.size() + 1));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1
                                        : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            ++i;
            ++j;
        } else if (j == b.size() || (i < a.size() && common[i + 1][j] >= common[i][j + 1])) {
            diff += Shown('-', a[i++]);
        } else {
            diff += Shown('+', b[j++]);
        }
    }
    return diff;
}

int RewriteCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {{"--smtp", false}, {"--pop3", false}, {"--diff", false}}) ||
        line.operands().size() > 1) {
        return UsageError(context_, "rewrite", line.error());
    }
    if (line.Has("--smtp") == line.Has("--pop3")) {
        return UsageError(context_, "rewrite", "say --smtp or --pop3");
    }
    std::string message;
    if (line.operands().empty() || line.operands()[0] == "-") {
        message.assign(std::istreambuf_iterator<char>(context_.in), {});
    } else {
        std::ifstream file(line.operands()[0], std::ios::binary);
        if (!file) {
            return Fail(context_, line.operands()[0] + " cannot be read");
        }
        message.assign(std::istreambuf_iterator<char>(file), {});
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    // The rewriting's own notices (a kludge file it cannot read) go to standard error.
    std::ostringstream notices;
    CliNotifier notifier(&notices);
    // Mail travels with CR LF line ends; a file saved with Unix ones is read as the client
    // would send it and written back as it came.
    const bool unixLines =
        message.find("\r\n") == std::string::npos && message.find('\n') != std::string::npos;
    if (unixLines) {
        message = ReplaceAll(message, "\n", "\r\n");
    }
    std::string result = Rewrite(
        session.settings(), line.Has("--smtp") ? KludgeType::SmtpKludge : KludgeType::Pop3Kludge,
        message, context_.tick, notifier);
    if (unixLines) {
        message = ReplaceAll(message, "\r\n", "\n");
        result = ReplaceAll(result, "\r\n", "\n");
    }
    if (line.Has("--diff")) {
        context_.out << HeaderDiff(message, result);
    } else {
        context_.out.write(result.data(), static_cast<std::streamsize>(result.size()));
    }
    if (!notices.str().empty()) {
        context_.err << notices.str();
    }
    return kExitOk;
}

}  // namespace vantel

#include "core/protocol/imap/ImapFramer.h"

#include <algorithm>
#include <limits>

#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"
#include "core/protocol/imap/ImapCapabilityFilter.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

using Run = ClientStreamObserver::Run;

/// Bytes of a line's start kept to read its tag and command.
constexpr std::size_t kHead = 256;
/// Bytes of a line's end kept to read a literal's announcement: "~{", twenty digits, "+}",
/// CR LF.
constexpr std::size_t kTail = 32;

bool IsLineEnd(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

/// The next word of a command line from `at` on; `at` moves past it.
std::string_view NextWord(std::string_view line, std::size_t& at) {
    while (at < line.size() && line[at] == ' ') {
        ++at;
    }
    const std::size_t start = at;
    while (at < line.size() && !IsLineEnd(line[at])) {
        ++at;
    }
    return line.substr(start, at - start);
}

/// The word right before `at`, as in "TEXT {12}" or "(URL {40}".
std::string_view WordBefore(std::string_view line, std::size_t at) {
    while (at > 0 && line[at - 1] == ' ') {
        --at;
    }
    std::size_t start = at;
    while (start > 0 && line[start - 1] != ' ' && line[start - 1] != '(') {
        --start;
    }
    return line.substr(start, at - start);
}

bool IsTagged(std::string_view line, std::string_view tag) {
    return !tag.empty() && line.size() > tag.size() && line.substr(0, tag.size()) == tag &&
           line[tag.size()] == ' ';
}

}  // namespace

bool ImapFramer::ParseAnnouncement(std::string_view line, Announcement& found) {
    if (line.empty() || line.back() != '\n') {
        return false;
    }
    std::size_t end = line.size() - 1;
    if (end > 0 && line[end - 1] == '\r') {
        --end;
    }
    if (end == 0 || line[end - 1] != '}') {
        return false;
    }
    std::size_t at = end - 1;
    Sync sync = Sync::Wait;
    if (at > 0 && (line[at - 1] == '+' || line[at - 1] == '-')) {
        sync = line[at - 1] == '+' ? Sync::Plus : Sync::Minus;
        --at;
    }
    const std::size_t digitsEnd = at;
    while (at > 0 && line[at - 1] >= '0' && line[at - 1] <= '9') {
        --at;
    }
    if (at == digitsEnd || at == 0 || line[at - 1] != '{') {
        return false;
    }
    std::uint64_t count = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (std::size_t i = at; i < digitsEnd; ++i) {
        const auto digit = static_cast<std::uint64_t>(line[i] - '0');
        if (count > (kMax - digit) / 10) {
            // No count anyone could take: the server reads no literal in it, but a client
            // may go on as if it had sent one.
            found.tooLarge = true;
            count = kMax;
            break;
        }
        count = count * 10 + digit;
    }
    found.count = count;
    found.sync = sync;
    found.start = at - 1;
    found.binary = found.start > 0 && line[found.start - 1] == '~';
    if (found.binary) {
        --found.start;
    }
    found.endAt = end;
    return true;
}

void ImapFramer::FromClient(std::string_view block, std::string& toServer, std::string& toClient) {
    toServer_ = &toServer;
    toClient_ = &toClient;
    while (!block.empty()) {
        switch (mode_) {
            case ClientMode::Literal:
            case ClientMode::Collect: {
                const auto n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(literalLeft_, block.size()));
                if (mode_ == ClientMode::Literal) {
                    Send(block.substr(0, n), Run::Argument);
                } else {
                    literal_.append(block.substr(0, n));
                }
                block.remove_prefix(n);
                literalLeft_ -= n;
                literalAwaited_ = false;  // the client sends it: the server said "+"
                if (literalLeft_ == 0) {
                    if (mode_ == ClientMode::Collect) {
                        LiteralCollected();
                    }
                    mode_ = ClientMode::Line;
                }
                break;
            }
            case ClientMode::Line: {
                const std::size_t lf = block.find('\n');
                const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
                const std::string_view piece = block.substr(0, end);
                block.remove_prefix(end);
                if (longLine_) {
                    KeepLast(tail_, piece, kTail);
                    Send(piece, LineRun());
                } else {
                    line_.append(piece);
                    if (line_.size() > kMaxLine) {
                        // No announcement of a message literal is this long: the line passes
                        // on as it comes, and only its ends are kept.
                        longLine_ = true;
                        head_.assign(line_, 0, kHead);
                        tail_.clear();
                        KeepLast(tail_, line_, kTail);
                        if (!continued_) {
                            StartCommand(head_);
                        }
                        Send(line_, LineRun());
                        line_.clear();
                    }
                }
                if (lf != std::string_view::npos) {
                    ClientLineEnded();
                }
                break;
            }
        }
    }
    SendRun();
    toClient_ = nullptr;
}

void ImapFramer::StartCommand(std::string_view head) {
    ++command_;
    literalAwaited_ = false;
    std::size_t at = 0;
    while (at < head.size() && !IsLineEnd(head[at])) {
        ++at;
    }
    tag_.assign(head.substr(0, at));
    std::string_view word = NextWord(head, at);
    if (EqualsNoCase(word, "UID")) {
        word = NextWord(head, at);
    }
    append_ = EqualsNoCase(word, "APPEND");
    compress_ = EqualsNoCase(word, "COMPRESS");
    pastMailbox_ = false;
    argumentsAt_ = at;
}

void ImapFramer::ClientLineEnded() {
    const bool fresh = !continued_;
    if (fresh && !longLine_) {
        StartCommand(line_);
    }
    const std::string_view line = longLine_ ? std::string_view(tail_) : std::string_view(line_);
    const bool refused = refused_ == command_;
    Announcement literal;
    if (!ParseAnnouncement(line, literal)) {
        if (!longLine_) {
            if (fresh && compress_) {
                // Compressed, the client's text could not be rewritten any more.
                toClient_->append(tag_).append(ImapCapabilityFilter::kRefusalText);
            } else if (fresh) {
                run_.append(line_);
            } else {
                Send(line_, Run::Continued);
            }
        }
        continued_ = false;
    } else if (refused && literal.sync == Sync::Wait) {
        // The client had the server's refusal before this literal's go-ahead, so it never
        // sends it: its next line is a new command.
        continued_ = false;
    } else {
        bool message = append_ && !longLine_ && !literal.binary &&
                       literal.count <= maxHeldLiteral_ &&
                       !EqualsNoCase(WordBefore(line_, literal.start), "URL");
        if (message && !pastMailbox_) {
            // The first literal of APPEND is its message only when the mailbox came before.
            const std::size_t from = fresh ? std::min(argumentsAt_, literal.start) : 0;
            const std::string_view before =
                std::string_view(line_).substr(from, literal.start - from);
            message = before.find_first_not_of(' ') != std::string_view::npos;
        }
        if (append_) {
            pastMailbox_ = true;
        }
        continued_ = true;
        literalLeft_ = literal.count;
        if (message && !refused) {
            announcedRun_ = fresh ? Run::Command : Run::Continued;
            announcedHead_.assign(line_, 0, literal.start);
            announcedCount_.assign(line_, literal.start);
            literalSync_ = literal.sync;
            literal_.clear();
            if (literal.sync == Sync::Wait) {
                toClient_->append(kReadyText);
            }
            mode_ = ClientMode::Collect;
            if (literalLeft_ == 0) {
                LiteralCollected();
                mode_ = ClientMode::Line;
            }
        } else {
            if (!longLine_) {
                Send(line_, fresh ? Run::Command : Run::Continued);
            }
            literalAwaited_ = literal.sync == Sync::Wait && literalLeft_ > 0;
            mode_ = literalLeft_ > 0 ? ClientMode::Literal : ClientMode::Line;
        }
    }
    line_.clear();
    longLine_ = false;
    head_.clear();
    tail_.clear();
}

void ImapFramer::LiteralCollected() {
    if (refused_ == command_) {
        literal_.clear();
        return;
    }
    StreamState text;
    std::string rewritten(rewriter_.ProcessMessageBlock(literal_, text, KludgeType::SmtpKludge));
    rewritten.append(MessageRewriter::FlushStream(text));
    literal_.clear();
    literal_.shrink_to_fit();
    Sync sync = literalSync_;
    if (sync == Sync::Minus && rewritten.size() > kMaxMinusLiteral) {
        sync = Sync::Wait;  // grown past what the server takes without a go-ahead
    }
    std::string line = announcedHead_;
    line.append("{").append(std::to_string(rewritten.size()));
    const std::string_view lineEnd =
        std::string_view(announcedCount_).substr(announcedCount_.find('}') + 1);
    line.append(sync == Sync::Plus ? "+}" : sync == Sync::Minus ? "-}" : "}").append(lineEnd);
    Send(line, announcedRun_);
    if (sync == Sync::Wait) {
        AwaitGoAhead();
    }
    Send(rewritten, Run::Argument);
}

void ImapFramer::SendRun() {
    if (run_.empty()) {
        return;
    }
    const std::string run = std::move(run_);
    run_.clear();
    Put(rewriter_.ProcessMessageBlock(run, commands_, KludgeType::SmtpKludge), Run::Command);
}

void ImapFramer::Send(std::string_view bytes, Run run) {
    SendRun();
    Put(bytes, run);
}

void ImapFramer::Put(std::string_view bytes, Run run) {
    if (bytes.empty() || refused_ == command_) {
        return;
    }
    if (queue_.empty() && !waiting_) {
        toServer_->append(bytes);
        Report(run, bytes);
        return;
    }
    if (!queue_.empty() && !queue_.back().goAhead && queue_.back().command == command_ &&
        queue_.back().run == run) {
        queue_.back().bytes.append(bytes);
    } else {
        Piece piece;
        piece.bytes.assign(bytes);
        piece.command = command_;
        piece.run = run;
        queue_.push_back(std::move(piece));
    }
    queuedBytes_ += bytes.size();
}

void ImapFramer::AwaitGoAhead() {
    SendRun();
    if (serverEnded_) {
        refused_ = command_;  // nobody is left to say go ahead: the rest of the command stays
    }
    if (refused_ == command_) {
        return;
    }
    if (queue_.empty() && !waiting_) {
        waiting_ = true;
        waitTag_ = tag_;
        waitCommand_ = command_;
        return;
    }
    Piece piece;
    piece.goAhead = true;
    piece.tag = tag_;
    piece.command = command_;
    queue_.push_back(std::move(piece));
}

void ImapFramer::Release() {
    while (!waiting_ && !queue_.empty()) {
        Piece& front = queue_.front();
        if (front.goAhead) {
            waiting_ = true;
            waitTag_ = std::move(front.tag);
            waitCommand_ = front.command;
        } else {
            toServer_->append(front.bytes);
            Report(front.run, front.bytes);
            queuedBytes_ -= front.bytes.size();
        }
        queue_.pop_front();
    }
}

void ImapFramer::Refused() {
    waiting_ = false;
    refused_ = waitCommand_;
    for (auto piece = queue_.begin(); piece != queue_.end();) {
        if (piece->command == refused_) {
            queuedBytes_ -= piece->bytes.size();
            piece = queue_.erase(piece);
        } else {
            ++piece;
        }
    }
    Release();
}

void ImapFramer::FromServer(std::string_view block, std::string& toClient, std::string& toServer) {
    toServer_ = &toServer;
    commands_.inBody = false;  // as after an SMTP reply: the client's text is header again
    std::size_t passFrom = 0;  // bytes from here on pass as they came
    std::size_t at = 0;
    while (at < block.size()) {
        if (serverLiteralLeft_ > 0) {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(serverLiteralLeft_, block.size() - at));
            at += n;
            serverLiteralLeft_ -= n;
            continue;
        }
        if (serverLineStart_) {
            serverLineStart_ = false;
            serverHead_.clear();
            serverTail_.clear();
            if (waiting_ && block[at] == '+') {
                // The go-ahead the relay asked for: the client had its own already.
                toClient.append(block.substr(passFrom, at - passFrom));
                swallowing_ = true;
            } else {
                capabilities_ = true;  // until its start shows it holds no capability list
            }
        }
        const std::size_t lf = block.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        const std::string_view piece = block.substr(at, end - at);
        KeepFirst(serverHead_, piece, kHead);
        KeepLast(serverTail_, piece, kTail);
        if (swallowing_) {
            passFrom = end;
        } else if (capabilities_) {
            if (ImapCapabilityFilter::Classify(serverHead_) == ImapCapabilityFilter::Shape::No) {
                capabilities_ = false;
                toClient.append(heldLine_);
                heldLine_.clear();
            } else if (heldLine_.size() + piece.size() > kMaxLine) {
                capabilities_ = false;  // too long for a list: it passes as it came
                toClient.append(heldLine_);
                heldLine_.clear();
            } else {
                toClient.append(block.substr(passFrom, at - passFrom));
                heldLine_.append(piece);
                passFrom = end;
            }
        }
        at = end;
        if (lf == std::string_view::npos) {
            break;
        }
        serverLineStart_ = true;
        if (swallowing_) {
            swallowing_ = false;
            waiting_ = false;
            Release();
            continue;
        }
        if (capabilities_) {
            capabilities_ = false;
            toClient.append(ImapCapabilityFilter::WithoutCompress(heldLine_, secured_));
            heldLine_.clear();
        }
        ServerLineEnded();
    }
    toClient.append(block.substr(passFrom));
}

void ImapFramer::ServerLineEnded() {
    const std::string_view head = serverHead_;
    if (!head.empty() && head.front() == '+') {
        literalAwaited_ = false;  // the client may send its literal
        return;
    }
    Announcement literal;
    if (ParseAnnouncement(serverTail_, literal) && !literal.tooLarge) {
        serverLiteralLeft_ = literal.count;
    }
    if (waiting_ && IsTagged(head, waitTag_)) {
        Refused();
    } else if (literalAwaited_ && IsTagged(head, tag_)) {
        // Turned down before its literal: the client sends none, its next line is a command.
        literalAwaited_ = false;
        literalLeft_ = 0;
        mode_ = ClientMode::Line;
        continued_ = false;
    }
}

void ImapFramer::ClientEnded(std::string& toServer) {
    toServer_ = &toServer;
    SendRun();
    switch (mode_) {
        case ClientMode::Line:
            if (!line_.empty()) {
                if (!continued_ && !longLine_) {
                    StartCommand(line_);
                }
                Send(line_, LineRun());
            }
            break;
        case ClientMode::Collect:
            // Cut short: what came goes on as it came, under the client's own announcement.
            Send(announcedHead_ + announcedCount_, announcedRun_);
            if (literalSync_ == Sync::Wait) {
                AwaitGoAhead();
            }
            Send(literal_, Run::Argument);
            break;
        case ClientMode::Literal:
            break;
    }
    mode_ = ClientMode::Line;
    line_.clear();
    literal_.clear();
    longLine_ = false;
    continued_ = false;
    literalLeft_ = 0;
}

void ImapFramer::ServerEnded(std::string& toClient) {
    serverEnded_ = true;
    toClient.append(heldLine_);  // a list cut short passes as it came
    heldLine_.clear();
    capabilities_ = false;
    queue_.clear();
    queuedBytes_ = 0;
    waiting_ = false;
    swallowing_ = false;
}

}  // namespace vantel

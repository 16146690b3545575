#include "LoadText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace vantel::load {
namespace {

constexpr std::size_t kBodyLineLength = 76;
constexpr std::string_view kTerminator = "\r\n.\r\n";

/// Header lines of a typical outgoing message; "%" stands for the message's serial.
constexpr std::string_view kHeaderLines[] = {
    "Return-Path: <load@example.org>",
    "Received: from client.example.org by mx1.example.org; Tue, 8 Dec 2026 12:00:01 +0000",
    "Received: from mx1.example.org by mx2.example.org; Tue, 8 Dec 2026 12:00:02 +0000",
    "Received: from mx2.example.org by mx3.example.org; Tue, 8 Dec 2026 12:00:03 +0000",
    "From: Load Generator <load@example.org>",
    "To: Message Sink <sink@example.org>",
    "Cc: Another Sink <copy@example.org>",
    "Subject: [LOAD] Message % #Weekly Numbers#",
    "Date: Tue, 8 Dec 2026 12:00:00 +0000",
    "Message-ID: <%@load.example.org>",
    "MIME-Version: 1.0",
    "Content-Type: text/plain; charset=us-ascii",
    "Content-Transfer-Encoding: 7bit",
    "X-Mailer: VantelLoad 1.0",
    "User-Agent: VantelLoad/1.0",
    "Organization: Load Testing Department",
    "X-Priority: 3",
    "X-Internal: nothing to see here",
    "X-Originating-IP: [127.0.0.1]",
    "X-Spam-Status: No, score=0.0",
    "X-Spam-Score: 0.0",
    "X-Face: #FKE8e5~Kp$o9r0M@KiYUnKv@hz/@z:2QX.#oKyvn38Ob}p]",
    "Keywords: load, relay, benchmark",
    "Comments: generated for measuring the relay",
    "Sender: load@example.org",
    "List-Id: Load testing <load.example.org>",
    "Thread-Topic: relay throughput",
    "X-Campaign: load-%",
};

/// Characters repeated to fill body lines.
constexpr std::string_view kFiller =
    "The quick brown fox jumps over the lazy dog 0123456789 "
    "Pack my box with five dozen liquor jugs ";

void AppendWithSerial(std::string& out, std::string_view pattern, long serial) {
    const std::string number = std::to_string(serial);
    for (char c : pattern) {
        if (c == '%') {
            out.append(number);
        } else {
            out.push_back(c);
        }
    }
}

}  // namespace

std::string MakeHeader(int count, long serial) {
    std::string header;
    constexpr int kNamed = static_cast<int>(std::size(kHeaderLines));
    for (int i = 0; i < count; ++i) {
        if (i < kNamed) {
            AppendWithSerial(header, kHeaderLines[i], serial);
        } else {
            const int n = i - kNamed + 1;
            header.append("X-Load-").append(n < 10 ? "0" : "").append(std::to_string(n));
            header.append(": padding line of the load header");
        }
        header.append("\r\n");
    }
    return header;
}

std::string MakeBody(std::size_t bytes) {
    std::string body;
    body.reserve(bytes + 2);
    std::size_t line = 0;
    std::size_t filler = 0;
    while (body.size() < bytes) {
        const std::size_t remaining = bytes - body.size();
        std::size_t length = std::min(kBodyLineLength, remaining >= 2 ? remaining - 2 : 0);
        if (remaining - length - 2 == 1) {
            --length;  // leave room for one more (empty) line rather than a lone byte
        }
        // Every 97th line starts with a dot, as a quoted path or an ellipsis would.
        const bool dotted = line % 97 == 96 && length > 0;
        std::size_t written = 0;
        if (dotted) {
            body.push_back('.');
            written = 1;
        }
        while (written < length) {
            const std::size_t take = std::min(length - written, kFiller.size() - filler);
            body.append(kFiller.substr(filler, take));
            filler = (filler + take) % kFiller.size();
            written += take;
        }
        body.append("\r\n");
        ++line;
    }
    return body;
}

std::string MakeMessage(int headerLines, long serial, std::size_t bodyBytes) {
    std::string message = MakeHeader(headerLines, serial);
    message.append("\r\n");
    message.append(MakeBody(bodyBytes));
    return message;
}

std::string MakeMessageOfSize(std::size_t bytes) {
    std::string message = MakeHeader(50, 1);
    message.append("\r\n");
    if (bytes > message.size()) {
        message.append(MakeBody(bytes - message.size()));
    }
    return message;
}

std::string DotTerminated(std::string_view message) {
    std::string out;
    out.reserve(message.size() + message.size() / 512 + 8);
    std::size_t start = 0;
    while (start < message.size()) {
        if (message[start] == '.') {
            out.push_back('.');
        }
        const std::size_t lf = message.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? message.size() : lf + 1;
        out.append(message.substr(start, end - start));
        start = end;
    }
    if (!message.empty() && message.substr(message.size() < 2 ? 0 : message.size() - 2) != "\r\n") {
        out.append("\r\n");
    }
    out.append(".\r\n");
    return out;
}

void DotEndScanner::Reset(bool atLineStart) {
    tailSize_ = atLineStart ? 2 : 0;
    tail_[0] = '\r';
    tail_[1] = '\n';
}

std::size_t DotEndScanner::Feed(std::string_view data) {
    // A terminator that starts in the held bytes ends within the first four new ones.
    char seam[8];
    std::memcpy(seam, tail_, tailSize_);
    const std::size_t head = std::min<std::size_t>(4, data.size());
    std::memcpy(seam + tailSize_, data.data(), head);
    const std::string_view seamView(seam, tailSize_ + head);
    const std::size_t inSeam = seamView.find(kTerminator);
    if (inSeam != std::string_view::npos) {
        return inSeam + kTerminator.size() - tailSize_;
    }
    const std::size_t inData = data.find(kTerminator);
    if (inData != std::string_view::npos) {
        return inData + kTerminator.size();
    }
    if (data.size() >= sizeof tail_) {
        std::memcpy(tail_, data.data() + data.size() - sizeof tail_, sizeof tail_);
        tailSize_ = sizeof tail_;
    } else {
        const std::size_t keep = std::min(seamView.size(), sizeof tail_);
        std::memmove(tail_, seam + seamView.size() - keep, keep);
        tailSize_ = keep;
    }
    return std::string_view::npos;
}

void LineBuffer::Append(std::string_view data) {
    // Returned lines are dropped only now and then, so a long input is not moved line by line.
    if (start_ > 0 && (start_ == buffer_.size() || start_ > 65536)) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(data);
}

bool LineBuffer::Next(std::string& line) {
    const std::size_t end = buffer_.find("\r\n", start_);
    if (end == std::string::npos) {
        return false;
    }
    line.assign(buffer_, start_, end - start_);
    start_ = end + 2;
    return true;
}

std::string LineBuffer::TakeRest() {
    std::string rest = buffer_.substr(start_);
    buffer_.clear();
    start_ = 0;
    return rest;
}

SmtpReplyLine ParseSmtpReply(std::string_view line) {
    SmtpReplyLine reply;
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
        !std::isdigit(static_cast<unsigned char>(line[1])) ||
        !std::isdigit(static_cast<unsigned char>(line[2]))) {
        return reply;
    }
    reply.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    reply.last = line.size() == 3 || line[3] != '-';
    return reply;
}

}  // namespace vantel::load

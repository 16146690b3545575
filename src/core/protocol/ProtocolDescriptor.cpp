#include "core/protocol/ProtocolDescriptor.h"

#include <iterator>

#include "core/protocol/smtp/ReplyCode.h"

namespace vantel {
namespace {

using Kind = MaskedCommand::Kind;
using Close = SaslExchange::Close;

constexpr SaslExchange kSmtpSasl{"AUTH", "334 ", "235", "535", "*", Close::OtherReply};
constexpr SaslExchange kNewsSasl{"AUTHINFO SASL", "383 ", "281", "481", "*", Close::OtherReply};
constexpr SaslExchange kPop3Sasl{"AUTH", "+ ", "+OK", "-ERR", "*", Close::Status};
constexpr SaslExchange kImapSasl{"AUTHENTICATE", "+ ", "OK", "NO", "*", Close::Tagged};

// SMTP and news share an entry type, so the masker follows both; their commands do not collide.
constexpr MaskedCommand kSmtpMasked[] = {
    {"AUTH", Kind::Secret, 1, &kSmtpSasl, {}},
    {"AUTHINFO PASS", Kind::Secret, 0, nullptr, {}},
    {"AUTHINFO SASL", Kind::Secret, 1, &kNewsSasl, {}},
    {"DATA", Kind::TextAfterReply, -1, nullptr, "354"},
    {"POST", Kind::TextAfterReply, -1, nullptr, "340"},
    {"IHAVE", Kind::TextAfterReply, -1, nullptr, "335"},
    {"TAKETHIS", Kind::TextAtOnce, -1, nullptr, {}},
    {"BDAT", Kind::Counted, -1, nullptr, {}},
};
constexpr MaskedCommand kPop3Masked[] = {
    {"PASS", Kind::Secret, 0, nullptr, {}},
    {"APOP", Kind::Secret, 1, nullptr, {}},
    {"AUTH", Kind::Secret, 1, &kPop3Sasl, {}},
};
constexpr MaskedCommand kImapMasked[] = {
    {"LOGIN", Kind::Secret, 0, nullptr, {}},
    {"AUTHENTICATE", Kind::Secret, 1, &kImapSasl, {}},
};

constexpr ProtocolDescriptor kSmtp{
    "SMTP",                  // name
    ReplyStyle::Coded,       // replies
    "421 4.7.0 ",            // refusal
    "QUIT\r\n",              // goodbye
    "220",                   // greeting
    "EHLO localhost",        // offersQuery
    "STARTTLS",              // startTls
    "220",                   // startTlsGoAhead
    false,                   // tagged
    kSmtpMasked,             // masked
    std::size(kSmtpMasked),  // maskedCount
    &kSmtpSasl,              // sasl
};
constexpr ProtocolDescriptor kNews{
    "news",                  // name
    ReplyStyle::Coded,       // replies
    "400 ",                  // refusal
    "QUIT\r\n",              // goodbye
    "200",                   // greeting
    "",                      // offersQuery
    "STARTTLS",              // startTls
    "382",                   // startTlsGoAhead
    false,                   // tagged
    kSmtpMasked,             // masked
    std::size(kSmtpMasked),  // maskedCount
    &kNewsSasl,              // sasl
};
constexpr ProtocolDescriptor kPop3{
    "POP3",      ReplyStyle::Status,     "-ERR ",    "QUIT\r\n", "+OK", "", "STLS", "+OK",
    false,                                            // name
    kPop3Masked, std::size(kPop3Masked), &kPop3Sasl,  // replies
};                                                    // refusal
constexpr ProtocolDescriptor kImap{
    // goodbye
    "IMAP",              // greeting
    ReplyStyle::Tagged,  // offersQuery
    "* BYE ",            // startTls
    "a LOGOUT\r\n",      // startTlsGoAhead
    "* OK",              // tagged
    "",                  // masked
    "STARTTLS",          // maskedCount
    "OK",                // sasl
    true,
    kImapMasked,
    std::size(kImapMasked),
    &kImapSasl,
};

}  // namespace

std::string ProtocolDescriptor::RefusalLine(std::string_view text) const {
    return std::string(refusal).append(text).append("\r\n");
}

bool ProtocolDescriptor::EndsGreeting(std::string_view line) const {
    // Coded replies may run over several lines; the others greet in one.
    return replies != ReplyStyle::Coded || !IsContinuedReply(line);
}

const ProtocolDescriptor& DescriptorOf(ServerType type, bool news) {
    switch (type) {
        case ServerType::Pop3:
            return kPop3;
        case ServerType::Imap4:
            return kImap;
        case ServerType::Smtp:
            break;
    }
    return news ? kNews : kSmtp;
}

bool GreetsAsNews(std::string_view line) {
    const int code = ReplyCode(line);
    return code == 200 || code == 201;
}

}  // namespace vantel

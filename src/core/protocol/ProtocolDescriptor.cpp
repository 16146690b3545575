#include "core/protocol/ProtocolDescriptor.h"

#include <iterator>

#include "core/protocol/ProtocolFramer.h"
#include "core/protocol/imap/ImapAuthenticator.h"
#include "core/protocol/imap/ImapFramer.h"
#include "core/protocol/pop3/Pop3Authenticator.h"
#include "core/protocol/pop3/Pop3Framer.h"
#include "core/protocol/smtp/ReplyCode.h"
#include "core/protocol/smtp/SmtpAuthenticator.h"
#include "core/protocol/smtp/SmtpFramer.h"

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
    {"AUTH", Kind::Secret, 1, &kSmtpSasl},
    {"AUTHINFO PASS", Kind::Secret, 0, nullptr},
    {"AUTHINFO SASL", Kind::Secret, 1, &kNewsSasl},
    {"BDAT", Kind::Counted, -1, nullptr},
};
constexpr MaskedCommand kPop3Masked[] = {
    {"PASS", Kind::Secret, 0, nullptr},
    {"APOP", Kind::Secret, 1, nullptr},
    {"AUTH", Kind::Secret, 1, &kPop3Sasl},
};
constexpr MaskedCommand kImapMasked[] = {
    {"LOGIN", Kind::Secret, 0, nullptr},
    {"AUTHENTICATE", Kind::Secret, 1, &kImapSasl},
};

std::unique_ptr<ProtocolFramer> MakeSmtpFramer(const ServerEntry& entry, MessageRewriter& rewriter,
                                               std::size_t) {
    return std::make_unique<SmtpFramer>(rewriter, entry.Encrypted());
}

std::unique_ptr<ProtocolFramer> MakePop3Framer(const ServerEntry& entry, MessageRewriter& rewriter,
                                               std::size_t) {
    return std::make_unique<Pop3Framer>(rewriter, entry);
}

std::unique_ptr<ProtocolFramer> MakeImapFramer(const ServerEntry& entry, MessageRewriter& rewriter,
                                               std::size_t maxHeldLiteral) {
    return std::make_unique<ImapFramer>(rewriter, maxHeldLiteral, entry.Encrypted());
}

template <typename Authenticator>
std::unique_ptr<ProtocolFramer> MakeAuthenticator(std::unique_ptr<ProtocolFramer> inner,
                                                  const ServerEntry& entry, LoginHost& host) {
    return std::make_unique<Authenticator>(std::move(inner), entry, host);
}

constexpr ProtocolDescriptor kSmtp{
    "SMTP",                                // name
    ReplyStyle::Coded,                     // replies
    "421 4.7.0 ",                          // refusal
    "QUIT\r\n",                            // goodbye
    "220",                                 // greeting
    "EHLO localhost",                      // offersQuery
    "STARTTLS",                            // startTls
    "220",                                 // startTlsGoAhead
    false,                                 // tagged
    kSmtpMasked,                           // masked
    std::size(kSmtpMasked),                // maskedCount
    &kSmtpSasl,                            // sasl
    MakeSmtpFramer,                        // makeFramer
    MakeAuthenticator<SmtpAuthenticator>,  // makeAuthenticator
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
    MakeSmtpFramer,          // makeFramer: the SMTP framer follows news' articles too
    nullptr,                 // makeAuthenticator: news servers take no OAuth here
};
constexpr ProtocolDescriptor kPop3{
    "POP3",                                // name
    ReplyStyle::Status,                    // replies
    "-ERR ",                               // refusal
    "QUIT\r\n",                            // goodbye
    "+OK",                                 // greeting
    "",                                    // offersQuery
    "STLS",                                // startTls
    "+OK",                                 // startTlsGoAhead
    false,                                 // tagged
    kPop3Masked,                           // masked
    std::size(kPop3Masked),                // maskedCount
    &kPop3Sasl,                            // sasl
    MakePop3Framer,                        // makeFramer
    MakeAuthenticator<Pop3Authenticator>,  // makeAuthenticator
};
constexpr ProtocolDescriptor kImap{
    "IMAP",                                // name
    ReplyStyle::Tagged,                    // replies
    "* BYE ",                              // refusal
    "a LOGOUT\r\n",                        // goodbye
    "* OK",                                // greeting
    "",                                    // offersQuery
    "STARTTLS",                            // startTls
    "OK",                                  // startTlsGoAhead
    true,                                  // tagged
    kImapMasked,                           // masked
    std::size(kImapMasked),                // maskedCount
    &kImapSasl,                            // sasl
    MakeImapFramer,                        // makeFramer
    MakeAuthenticator<ImapAuthenticator>,  // makeAuthenticator
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

#include "core/protocol/StartTlsDialogue.h"

#include <gtest/gtest.h>

#include <string>

namespace vantel {
namespace {

using Step = StartTlsDialogue::Step;

/// What a dialogue came to after all of a server's bytes.
struct Outcome {
    Step step = Step::Talking;
    std::string toServer;
    std::string greeting;
    std::string failure;
    std::string rest;  ///< the bytes after the go-ahead, however they came
    bool news = false;
};

/// Feeds `server` cut at `cut`, or one byte at a time (cut npos).
Outcome Converse(ServerType type, std::string_view server, std::size_t cut) {
    StartTlsDialogue dialogue(type);
    Outcome out;
    const auto feed = [&](std::string_view bytes) {
        if (out.step == Step::Upgrade) {
            out.rest.append(bytes);  // the TLS stream, no longer the dialogue's
            return;
        }
        out.step = dialogue.FromServer(bytes, out.toServer);
        if (out.step == Step::Upgrade) {
            out.rest = dialogue.TakeRest();
        }
    };
    if (cut == std::string_view::npos) {
        for (std::size_t i = 0; i < server.size(); ++i) {
            feed(server.substr(i, 1));
        }
    } else {
        feed(server.substr(0, cut));
        feed(server.substr(cut));
    }
    out.greeting = dialogue.greeting();
    out.failure = dialogue.failure();
    out.news = dialogue.news();
    return out;
}

TEST(StartTlsDialogueTest, EachProtocolAsksInItsOwnWordsAndNeverGoesOnInPlainText) {
    struct Case {
        const char* what;
        ServerType type;
        std::string server;  ///< everything the server says; after a go-ahead, "TLS" stands for TLS
        Step step;
        std::string toServer;
        std::string greeting;  ///< for the client, once TLS stands
        std::string failure;
        bool news = false;
    };
    const Case cases[] = {
        {"SMTP: a multi-line greeting, EHLO, STARTTLS, 220", ServerType::Smtp,
         "220-mx.example ESMTP\r\n220 ready\r\n250-mx.example\r\n250-PIPELINING\r\n"
         "250 starttls\r\n220 2.0.0 go ahead\r\nTLS",
         Step::Upgrade, "EHLO localhost\r\nSTARTTLS\r\n", "220-mx.example ESMTP\r\n220 ready\r\n",
         ""},
        {"SMTP: STARTTLS not among the extensions", ServerType::Smtp,
         "220 mx\r\n250-mx\r\n250-STARTTLSX\r\n250 SIZE 10\r\n", Step::Failed, "EHLO localhost\r\n",
         "220 mx\r\n", "server does not offer STARTTLS"},
        {"SMTP: EHLO refused", ServerType::Smtp, "220 mx\r\n502 no\r\n", Step::Failed,
         "EHLO localhost\r\n", "220 mx\r\n", "server refused EHLO: \"502 no\""},
        {"SMTP: STARTTLS refused after a multi-line reply", ServerType::Smtp,
         "220 mx\r\n250 STARTTLS\r\n454-TLS\r\n454 not now\r\n", Step::Failed,
         "EHLO localhost\r\nSTARTTLS\r\n", "220 mx\r\n",
         "server refused STARTTLS: \"454 not now\""},
        {"SMTP: a refused connection", ServerType::Smtp, "554 go away\r\n", Step::Failed, "",
         "554 go away\r\n", "server refused the connection: \"554 go away\""},
        {"news on an SMTP entry: told by the 200 greeting, 382", ServerType::Smtp,
         "200 news ready\r\n382 go\r\nTLS", Step::Upgrade, "STARTTLS\r\n", "200 news ready\r\n", "",
         true},
        {"news that does not know STARTTLS", ServerType::Smtp, "201 read only\r\n502 what\r\n",
         Step::Failed, "STARTTLS\r\n", "201 read only\r\n", "server does not offer STARTTLS", true},
        {"POP3: STLS, +OK", ServerType::Pop3, "+OK pop ready\r\n+OK begin\r\nTLS", Step::Upgrade,
         "STLS\r\n", "+OK pop ready\r\n", ""},
        {"POP3: STLS refused", ServerType::Pop3, "+OK pop\r\n-ERR no\r\n", Step::Failed, "STLS\r\n",
         "+OK pop\r\n", "server refused STLS: \"-ERR no\""},
        {"POP3: a refused connection", ServerType::Pop3, "-ERR busy\r\n", Step::Failed, "", "",
         "server refused the connection: \"-ERR busy\""},
        {"IMAP: a tagged STARTTLS; the greeting loses its capabilities", ServerType::Imap4,
         "* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n* NOTE x\r\nV1 OK begin\r\nTLS", Step::Upgrade,
         "V1 STARTTLS\r\n", "* OK hi\r\n", ""},
        {"IMAP: capabilities without STARTTLS", ServerType::Imap4,
         "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] hi\r\n", Step::Failed, "", "* OK hi\r\n",
         "server does not offer STARTTLS"},
        {"IMAP: PREAUTH allows no STARTTLS", ServerType::Imap4, "* PREAUTH in\r\n", Step::Failed,
         "", "", "server refused the connection: \"* PREAUTH in\""},
        {"IMAP: STARTTLS refused", ServerType::Imap4, "* OK hi\r\nV1 NO later\r\n", Step::Failed,
         "V1 STARTTLS\r\n", "* OK hi\r\n", "server refused STARTTLS: \"V1 NO later\""},
        {"IMAP: an answer under another tag", ServerType::Imap4, "* OK hi\r\nV2 OK\r\n",
         Step::Failed, "V1 STARTTLS\r\n", "* OK hi\r\n",
         "server sent no proper answer to STARTTLS: \"V2 OK\""},
        {"a refusal quoted safely: control bytes shown as '?'", ServerType::Pop3,
         "+OK\r\n-ERR a\x1b[2Jb\r\n", Step::Failed, "STLS\r\n", "+OK\r\n",
         "server refused STLS: \"-ERR a?[2Jb\""},
        {"a greeting too long to be one", ServerType::Smtp,
         std::string(StartTlsDialogue::kMaxLine + 1, 'x'), Step::Failed, "", "",
         "server sent no proper answer before TLS"},
        {"a greeting not yet ended keeps talking", ServerType::Smtp, "220-a\r\n220", Step::Talking,
         "", "220-a\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t cut = 0; cut <= c.server.size() + 1; ++cut) {
            const std::size_t at = cut > c.server.size() ? std::string_view::npos : cut;
            const Outcome out = Converse(c.type, c.server, at);
            ASSERT_EQ(out.step, c.step) << "cut at " << cut;
            ASSERT_EQ(out.toServer, c.toServer) << "cut at " << cut;
            ASSERT_EQ(out.failure, c.failure) << "cut at " << cut;
            ASSERT_EQ(out.news, c.news) << "cut at " << cut;
            ASSERT_EQ(out.greeting, c.greeting) << "cut at " << cut;
            // What follows the go-ahead is the start of TLS, and all of it.
            ASSERT_EQ(out.rest, c.step == Step::Upgrade ? "TLS" : "") << "cut at " << cut;
        }
    }
}

}  // namespace
}  // namespace vantel

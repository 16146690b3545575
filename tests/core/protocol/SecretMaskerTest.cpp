#include "core/protocol/SecretMasker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeNotifier.h"
#include "core/protocol/ProtocolFramer.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

/// A session's framer with the trace's masker listening, as a traced relay has them. The
/// rewriter has no kludges, and unless `maxHeldLiteral` says otherwise no literal is held, so
/// the client's bytes go on as they came.
class Traced {
  public:
    explicit Traced(ServerType protocol, std::size_t maxHeldLiteral = 0)
        : rewriter_(settings_, random_, notifier_, files_), masker_(protocol) {
        entry_.Type = StoredServerType(protocol);
        framer_ = MakeProtocolFramer(entry_, rewriter_, maxHeldLiteral);
        framer_->Observe(&masker_);
    }

    /// What the trace shows of the client's `text`.
    std::string Client(std::string_view text) {
        framer_->FromClient(text, toServer_, toClient_);
        return Shown();
    }
    /// The server's `text`, heard first by the masker as in the relay; what the trace shows
    /// of client bytes it let go.
    std::string Server(std::string_view text) {
        masker_.ServerReplied(text);
        framer_->FromServer(text, toClient_, toServer_);
        return Shown();
    }

  private:
    std::string Shown() {
        toServer_.clear();
        toClient_.clear();
        return masker_.TakeShown();
    }

    RelaySettings settings_;
    CRuntimeRandom random_{1};
    test::FakeNotifier notifier_;
    CachedKludgeFiles files_;
    MessageRewriter rewriter_;
    ServerEntry entry_;
    SecretMasker masker_;
    std::unique_ptr<ProtocolFramer> framer_;
    std::string toServer_;
    std::string toClient_;
};

using namespace std::string_literals;

/// One turn of a conversation: the client's text and what the trace shows of it, or a
/// server's reply.
struct Turn {
    bool client;
    std::string text;
    std::string shown;
};

Turn C(std::string text, std::string shown) {
    return {true, std::move(text), std::move(shown)};
}
Turn C(const std::string& text) {
    return {true, text, text};
}
Turn S(std::string reply) {
    return {false, std::move(reply), ""};
}
/// A reply that lets client bytes go which the relay held for it.
Turn S(std::string reply, std::string shown) {
    return {false, std::move(reply), std::move(shown)};
}

/// What is shown of each turn, with every turn fed `piece` bytes at a time (0: whole), or
/// with turn `cut` alone split at byte `at`.
std::vector<std::string> Feed(ServerType protocol, std::size_t maxHeldLiteral,
                              const std::vector<Turn>& turns, std::size_t piece,
                              std::size_t cut = ~std::size_t{0}, std::size_t at = 0) {
    Traced traced(protocol, maxHeldLiteral);
    std::vector<std::string> shown;
    for (std::size_t i = 0; i < turns.size(); ++i) {
        const std::string& text = turns[i].text;
        std::vector<std::string_view> pieces;
        if (i == cut) {
            pieces = {std::string_view(text).substr(0, at), std::string_view(text).substr(at)};
        } else {
            for (std::size_t p = 0; p < text.size(); p += piece == 0 ? text.size() : piece) {
                pieces.push_back(
                    std::string_view(text).substr(p, piece == 0 ? text.size() : piece));
            }
        }
        shown.emplace_back();
        for (std::string_view part : pieces) {
            shown.back() += turns[i].client ? traced.Client(part) : traced.Server(part);
        }
    }
    return shown;
}

/// Plays the conversation whole, a byte at a time, and with each turn split at every byte:
/// what a line start has shown decides its rest, however the reads fall.
void Play(ServerType protocol, const std::vector<Turn>& turns, std::size_t maxHeldLiteral = 0) {
    std::vector<std::string> expected;
    for (const Turn& turn : turns) {
        expected.push_back(turn.shown);
    }
    EXPECT_EQ(Feed(protocol, maxHeldLiteral, turns, 0), expected);
    EXPECT_EQ(Feed(protocol, maxHeldLiteral, turns, 1), expected);
    for (std::size_t cut = 0; cut < turns.size(); ++cut) {
        for (std::size_t at = 1; at < turns[cut].text.size(); ++at) {
            if (Feed(protocol, maxHeldLiteral, turns, 0, cut, at) != expected) {
                ADD_FAILURE() << "turn " << cut << " split at " << at << ": " << turns[cut].text;
                return;
            }
        }
    }
}

TEST(SecretMaskerTest, Pop3PasswordsDigestsAndAuthExchanges) {
    Play(ServerType::Pop3,
         {C("USER me\r\nPASS s3cret\r\nSTAT\r\n", "USER me\r\nPASS ****\r\nSTAT\r\n"),
          C("pass lower\r\npAsS  two blanks\r\n", "pass ****\r\npAsS ****\r\n"),
          C("PASS\r\nPASSWORD x\r\n"),  // no argument, or another word: nothing to hide
          C("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "APOP mrose ****\r\n"),
          // The lines answering "+ " challenges are secret up to +OK or -ERR.
          C("AUTH PLAIN\r\n"), S("+ \r\n"), C("AGFsaWNlAHNlY3JldA==\r\n", "****\r\n"),
          S("+OK maildrop locked\r\n"), C("STAT\r\n"), C("auth login\r\n"), S("+ VXNlcm5hbWU6\r\n"),
          C("YWxpY2U=\r\n", "****\r\n"), S("+ UGFzc3dvcmQ6\r\n"), C("c2VjcmV0\r\n", "****\r\n"),
          S("-ERR failed\r\n"), C("AUTH PLAIN AGFsaWNl\r\nLIST\r\n", "AUTH PLAIN ****\r\n****\r\n"),
          S("+OK\r\n"), C("LIST\r\n"),
          // AUTH alone asks for the mechanisms: no exchange starts.
          C("AUTH\r\n"), S("+OK\r\nPLAIN\r\n.\r\n"), C("UIDL\r\n")});
}

TEST(SecretMaskerTest, SmtpAuthExchangeIsMaskedUntilTheServerStopsChallenging) {
    Play(ServerType::Smtp,
         {C("AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n", "AUTH PLAIN ****\r\n"), S("235 ok\r\n"),
          C("MAIL FROM:<a@b>\r\n"), C("AUTH LOGIN\r\n"), S("334 VXNlcm5hbWU6\r\n"),
          C("YWxpY2U=\r\n", "****\r\n"), S("334 UGFzc3dvcmQ6\r\n"), C("c2VjcmV0\r\n", "****\r\n"),
          S("235 2.7.0 accepted\r\n"), C("RCPT TO:<c@d>\r\n")});
}

TEST(SecretMaskerTest, ASaslResponseIsNoCommandWhateverItLooksLike) {
    // "DATA" is base64 too: a response that reads like a command is still a response, and
    // the next challenge is no go-ahead.
    Play(ServerType::Smtp,
         {C("AUTH LOGIN\r\n"), S("334 VXNlcm5hbWU6\r\n"), C("DATA\r\n", "****\r\n"),
          S("334 UGFzc3dvcmQ6\r\n"), C("c2VjcmV0\r\n", "****\r\n"), S("235 2.7.0 ok\r\n")});
}

TEST(SecretMaskerTest, NewsPasswordsAndSaslExchanges) {
    Play(ServerType::Smtp,
         {C("AUTHINFO USER alice\r\n"), S("381 password required\r\n"),
          C("authinfo pass s3cret\r\n", "authinfo pass ****\r\n"), S("281 ok\r\n"),
          C("AUTHINFO SASL PLAIN AGFsaWNl\r\n", "AUTHINFO SASL PLAIN ****\r\n"), S("281 ok\r\n"),
          C("AUTHINFO SASL DIGEST-MD5\r\n"), S("383 bm9uY2U9\r\n"),
          C("dXNlcm5hbWU9\r\n", "****\r\n"), S("383 cnNwYXV0aA==\r\n"),
          C("\r\n"),  // an empty response has nothing to hide
          S("281 accepted\r\n"), C("GROUP misc.test\r\n")});
}

TEST(SecretMaskerTest, ImapLoginArgumentsAndAuthenticateExchanges) {
    Play(
        ServerType::Imap4,
        {C("a001 CAPABILITY\r\n"), C("a002 login \"alice\" \"s3 cret\"\r\n", "a002 login ****\r\n"),
         C("A8 AUTHENTICATE PLAIN\r\n"), S("+ \r\n"), C("AGFsaWNl\r\n", "****\r\n"),
         // Only the command's own tag ends the exchange.
         S("* OK still going\r\nA88 OK other\r\n+ \r\n"), C("*\r\n", "****\r\n"),
         S("A8 BAD cancelled\r\n"),
         C("A9 Authenticate PLAIN dGVzdA==\r\n", "A9 Authenticate PLAIN ****\r\n"), S("A9 OK\r\n"),
         C("A10 LIST \"\" *\r\n")});
}

TEST(SecretMaskerTest, ImapLiteralsAreSecretInALoginAndNeverCommands) {
    Play(ServerType::Imap4,
         {// Each sent once the server says "+"; counted in bytes, line ends or not.
          C("A1 LOGIN {5}\r\n", "A1 LOGIN ****\r\n"), S("+ Ready\r\n"),
          C("alice {8}\r\n", "****\r\n"), S("+ Ready\r\n"), C("s3\r\ncret\r\n", "****\r\n"),
          C("A2 NOOP\r\n"),
          // Sent at once.
          C("A3 LOGIN alice {6+}\r\ns3cret\r\nA4 NOOP\r\n", "A3 LOGIN ****\r\n****\r\nA4 NOOP\r\n"),
          // Refused before it came: the next line is a command again.
          C("A5 LOGIN {5}\r\n", "A5 LOGIN ****\r\n"), S("A5 NO [PRIVACYREQUIRED] no\r\n"),
          C("A6 CAPABILITY\r\n"),
          // Another command's literal is text, whatever it looks like.
          C("A7 APPEND INBOX {23}\r\n"), S("+ Ready\r\n"),
          C("b1 LOGIN alice secret\r\n\r\nA8 LOGIN bob pw\r\n",
            "b1 LOGIN alice secret\r\n\r\nA8 LOGIN ****\r\n")});
}

TEST(SecretMaskerTest, LiteralsAreWhereTheFramerCountsThem) {
    Play(ServerType::Imap4,
         {// LITERAL-: sent at once like "{n+}".
          C("A1 LOGIN alice {6-}\r\ns3cret\r\nA2 NOOP\r\n", "A1 LOGIN ****\r\n****\r\nA2 NOOP\r\n"),
          // A message literal held for rewriting: what waited behind the server's go-ahead
          // shows when it goes, in its order and as what it was.
          C("A3 APPEND INBOX {5}\r\nhello\r\nA4 LOGIN alice {6+}\r\ns3cret\r\n",
            "A3 APPEND INBOX {5}\r\n"),
          S("+ go ahead\r\n", "hello\r\nA4 LOGIN ****\r\n****\r\n"), C("A5 NOOP\r\n")},
         64);
}

TEST(SecretMaskerTest, MessageTextIsNoCommand) {
    const std::string body =
        "Subject: x\r\n\r\nauth plain AGFsaWNl\r\npass word\r\nAUTH LOGIN\r\nnext\r\n..pass\r\n";
    Play(ServerType::Smtp,
         {C("MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n"),
          S("250 ok\r\n250 ok\r\n354 go ahead\r\n"), C(body), C(".\r\n"), S("250 queued\r\n"),
          C("AUTH PLAIN AGFs\r\n", "AUTH PLAIN ****\r\n"), S("235 ok\r\n"),
          // Refused: what follows is commands.
          C("DATA\r\n"), S("554 no valid recipients\r\n"),
          C("AUTH PLAIN AGFs\r\n", "AUTH PLAIN ****\r\n"), S("235 ok\r\n"),
          // A chunk is as many bytes as it says; after it, commands again.
          C("BDAT 20 LAST\r\npass: none\r\nauth x\r\nAUTH PLAIN AGFs\r\n",
            "BDAT 20 LAST\r\npass: none\r\nauth x\r\nAUTH PLAIN ****\r\n")});

    // Articles: after the go-ahead of POST and IHAVE, at once after TAKETHIS.
    const std::string article =
        "Subject: a\r\n\r\nAUTHINFO PASS not a secret\r\nauthinfo sasl x\r\n";
    for (const auto& [command, goAhead] : {std::pair{"POST\r\n", "340 send it\r\n"},
                                           std::pair{"IHAVE <i@d>\r\n", "335 send it\r\n"}}) {
        Play(ServerType::Smtp, {C(command), S(goAhead), C(article + ".\r\n"),
                                C("AUTHINFO PASS pw\r\n", "AUTHINFO PASS ****\r\n")});
    }
    Play(ServerType::Smtp, {C("TAKETHIS <m@d>\r\n" + article + ".\r\nAUTHINFO PASS pw\r\n",
                              "TAKETHIS <m@d>\r\n" + article + ".\r\nAUTHINFO PASS ****\r\n")});
}

TEST(SecretMaskerTest, ASecretIsMaskedWhateverBlanksSurroundItsCommand) {
    const struct {
        ServerType protocol;
        const char* sent;
        const char* shown;
    } rows[] = {
        {ServerType::Pop3, "PASS\ts3cret\r\n", "PASS\t****\r\n"},
        {ServerType::Pop3, " PASS s3cret\r\n", " PASS ****\r\n"},
        {ServerType::Pop3, "\t pass s3cret\r\n", "\t pass ****\r\n"},
        {ServerType::Pop3, "PASS\vs3cret\r\n", "PASS\v****\r\n"},
        {ServerType::Pop3, "  APOP\tmrose c4c9334bac560ecc\r\n", "  APOP\tmrose ****\r\n"},
        {ServerType::Pop3, " AUTH PLAIN AGFsaWNl\r\n", " AUTH PLAIN ****\r\n"},
        {ServerType::Smtp, "auth\tplain\tAGFsaWNl\r\n", "auth\tplain\t****\r\n"},
        {ServerType::Smtp, "  AUTH LOGIN YWxpY2U=\r\n", "  AUTH LOGIN ****\r\n"},
        {ServerType::Smtp, " authinfo\tpass s3cret\r\n", " authinfo\tpass ****\r\n"},
        // A chunk counted behind a blank is still message text.
        {ServerType::Smtp, " BDAT 14 LAST\r\nAUTH PLAIN x\r\nAUTH PLAIN AGFs\r\n",
         " BDAT 14 LAST\r\nAUTH PLAIN x\r\nAUTH PLAIN ****\r\n"},
        {ServerType::Smtp, "\tAUTHINFO SASL PLAIN AGFs\r\n", "\tAUTHINFO SASL PLAIN ****\r\n"},
        {ServerType::Imap4, "a1\tLOGIN\talice\ts3cret\r\n", "a1\tLOGIN\t****\r\n"},
        {ServerType::Imap4, " a2 login alice s3cret\r\n", " a2 login ****\r\n"},
        {ServerType::Imap4, "a3  Authenticate\fPLAIN AGFs\r\n", "a3  Authenticate\fPLAIN ****\r\n"},
    };
    for (const auto& row : rows) {
        Play(row.protocol, {C(row.sent, row.shown)});
    }
}

TEST(SecretMaskerTest, HostileInputStaysBounded) {
    // A command whose shown arguments never end: the rest is taken as secret.
    Traced pop3(ServerType::Pop3);
    const std::string blanks(100000, ' ');
    const std::string shown = pop3.Client("AUTH" + blanks + "PLAIN secret\r\n");
    EXPECT_EQ(shown.find("secret"), std::string::npos);
    EXPECT_LE(shown.size(), SecretMasker::kMaxHead + 16);
    EXPECT_EQ(pop3.Client("PASS se\0cret\r\n"s), "PASS ****\r\n");

    // A tag too long to be one, NULs, server lines without end.
    Traced imap(ServerType::Imap4);
    const std::string junk = std::string(100000, 'a') + "\0 x\r\n"s;
    EXPECT_EQ(imap.Client(junk), junk);
    EXPECT_EQ(imap.Client("b LOGIN x y\r\n"), "b LOGIN ****\r\n");
    // A literal too big to count, refused as a server would.
    EXPECT_EQ(imap.Client("c LOGIN {99999999999999999999}\r\n"), "c LOGIN ****\r\n");
    imap.Server(std::string(1 << 20, 'x'));
    imap.Server("\r\nc NO\r\n");
    EXPECT_EQ(imap.Client("d NOOP\r\n"), "d NOOP\r\n");
    // Sent at once, it takes whatever follows.
    EXPECT_EQ(imap.Client("e LOGIN {99999999999999999999+}\r\n" + std::string(1 << 20, 'z') +
                          "\r\nf NOOP\r\n"),
              "e LOGIN ****\r\n****");
}

}  // namespace
}  // namespace vantel

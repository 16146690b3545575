#include "core/protocol/ProtocolDescriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantel {
namespace {

/// The descriptors of every protocol the relay speaks: an SMTP entry carries news too.
struct Protocol {
    ServerType type;
    bool news;
};
constexpr Protocol kProtocols[] = {{ServerType::Smtp, false},
                                   {ServerType::Smtp, true},
                                   {ServerType::Pop3, false},
                                   {ServerType::Imap4, false}};

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

/// What a server line is to a client in the middle of a SASL exchange, read with nothing
/// but the descriptor's slot; `tag` is the tag of the client's command, for tagged protocols.
std::string SaslReading(const ProtocolDescriptor& protocol, std::string_view line,
                        std::string_view tag) {
    const SaslExchange& sasl = *protocol.sasl;
    if (StartsWith(line, sasl.challenge)) {
        return "challenge";
    }
    if (protocol.tagged) {
        if (!StartsWith(line, std::string(tag) + " ")) {
            return "untagged";
        }
        line.remove_prefix(tag.size() + 1);
    }
    return StartsWith(line, sasl.success)   ? "success"
           : StartsWith(line, sasl.failure) ? "failure"
                                            : "other";
}

TEST(ProtocolDescriptorTest, ASaslExchangeIsDrivenFromTheSlotAlone) {
    struct Case {
        Protocol protocol;
        std::vector<std::string> lines;
        std::vector<std::string> readings;
    };
    const Case cases[] = {
        {{ServerType::Smtp, false},
         {"334 ", "235 2.7.0 accepted", "535 5.7.8 refused", "250 ok"},
         {"challenge", "success", "failure", "other"}},
        {{ServerType::Smtp, true},
         {"383 ", "281 welcome", "481 no"},
         {"challenge", "success", "failure"}},
        // "+OK" is no challenge, though it starts with "+".
        {{ServerType::Pop3, false},
         {"+ ", "+OK maildrop locked", "-ERR no"},
         {"challenge", "success", "failure"}},
        {{ServerType::Imap4, false},
         {"+ ", "* CAPABILITY IMAP4rev1", "A1 OK done", "A1 NO [AUTHENTICATIONFAILED] no",
          "A2 OK other"},
         {"challenge", "untagged", "success", "failure", "untagged"}},
    };
    for (const Case& c : cases) {
        const ProtocolDescriptor& protocol = DescriptorOf(c.protocol.type, c.protocol.news);
        SCOPED_TRACE(protocol.name);
        const std::string tag = protocol.tagged ? "A1" : "";
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(SaslReading(protocol, c.lines[i], tag), c.readings[i]) << c.lines[i];
        }
    }
}

TEST(ProtocolDescriptorTest, TheTraceHidesWhatEverySaslExchangeSends) {
    for (const Protocol& p : kProtocols) {
        const ProtocolDescriptor& protocol = DescriptorOf(p.type, p.news);
        SCOPED_TRACE(protocol.name);
        // The command that opens the protocol's exchange is masked, and masked as that
        // exchange, so that the answers to its challenges are hidden too.
        bool found = false;
        for (std::size_t i = 0; i < protocol.maskedCount; ++i) {
            const MaskedCommand& command = protocol.masked[i];
            if (command.exchange != nullptr) {
                EXPECT_EQ(command.words, command.exchange->command);
                EXPECT_EQ(command.kind, MaskedCommand::Kind::Secret);
                EXPECT_EQ(command.shown, 1) << "the mechanism shows, the initial response not";
            }
            found = found || command.exchange == protocol.sasl;
        }
        EXPECT_TRUE(found);
    }
}

TEST(ProtocolDescriptorTest, GreetingsEndWhereTheProtocolSays) {
    struct Case {
        Protocol protocol;
        std::string line;
        bool ends;
    };
    const Case cases[] = {
        {{ServerType::Smtp, false}, "220-mx.example ESMTP\r\n", false},
        {{ServerType::Smtp, false}, "220 ready\r\n", true},
        {{ServerType::Smtp, true}, "200-news\r\n", false},
        {{ServerType::Smtp, false}, "22-x\r\n", true},  // no reply code: nothing continues
        // POP3 and IMAP greet in one line, whatever it holds.
        {{ServerType::Pop3, false}, "220-+OK\r\n", true},
        {{ServerType::Imap4, false}, "* OK [CAPABILITY IMAP4rev1] hi\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(DescriptorOf(c.protocol.type, c.protocol.news).EndsGreeting(c.line), c.ends);
    }
    // A stored type no program knows is relayed as SMTP, and greeted as SMTP.
    EXPECT_EQ(&DescriptorOf(ServerTypeFromStored(7)), &DescriptorOf(ServerType::Smtp));
    // Only the greeting's code tells news from mail on an SMTP entry.
    EXPECT_TRUE(GreetsAsNews("200 news\r\n"));
    EXPECT_TRUE(GreetsAsNews("201 read only\r\n"));
    EXPECT_FALSE(GreetsAsNews("220 mail\r\n"));
    EXPECT_FALSE(GreetsAsNews("20\r\n"));
}

}  // namespace
}  // namespace vantel

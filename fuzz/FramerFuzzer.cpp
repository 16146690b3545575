// Fuzzes the protocol framers, and the trace's masker that follows them, with a client and a
// server that say anything, in any order.
//
// Input layout, read front to back:
//   flags   bits 0-1 the protocol (SMTP, POP3, IMAP, IMAP holding at most 64 bytes), bit 2 a
//           kludge that changes X-Mailer lines, bit 3 a connection the relay secured, bit 4
//           POP3 without a stored login
//   turns   a byte each: bit 7 the server speaks (else the client), bits 0-6 how many of the
//           following bytes it says; 0 ends that side's stream
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/config/CredentialCodec.h"
#include "core/protocol/SecretMasker.h"
#include "core/protocol/imap/ImapFramer.h"
#include "core/protocol/pop3/Pop3Framer.h"
#include "core/protocol/smtp/SmtpFramer.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

class Quiet : public Notifier {
  public:
    void ShowMessage(std::string_view) override {}
};

void Check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

}  // namespace
}  // namespace vantel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantel;
    if (size == 0) {
        return 0;
    }
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const auto flags = static_cast<std::uint8_t>(in.front());
    in.remove_prefix(1);

    RelaySettings settings;
    if (flags & 4) {
        settings.Kludges = {{0, "X-Mailer:", 0, "fuzzed"}};
    }
    CRuntimeRandom random{1};
    CachedKludgeFiles files;
    Quiet quiet;
    MessageRewriter rewriter(settings, random, quiet, files);
    ServerEntry entry;
    CredentialBlock login{};
    if (!(flags & 16)) {
        entry.CredentialLength = PackCredentials(login, "user", "secret");
        entry.Credentials = login;
    }
    // A connection the relay secured: the upgrade offers are filtered as well.
    const bool secured = (flags & 8) != 0;
    if (secured) {
        entry.Security = StoredSecurityMode(SecurityMode::SslTls);
    }

    std::unique_ptr<ProtocolFramer> framer;
    ServerType type = ServerType::Smtp;
    switch (flags & 3) {
        case 0:
            framer = std::make_unique<SmtpFramer>(rewriter, secured);
            break;
        case 1:
            framer = std::make_unique<Pop3Framer>(rewriter, entry);
            type = ServerType::Pop3;
            break;
        case 2:
            framer = std::make_unique<ImapFramer>(rewriter, ImapFramer::kMaxHeldLiteral, secured);
            type = ServerType::Imap4;
            break;
        default:
            framer = std::make_unique<ImapFramer>(rewriter, 64, secured);
            type = ServerType::Imap4;
            break;
    }
    // The trace's masker follows the framer's parse, as in a traced session.
    SecretMasker masker(type);
    framer->Observe(&masker);

    std::string toServer;
    std::string toClient;
    bool clientEnded = false;
    bool serverEnded = false;
    std::size_t fromClient = 0;
    while (!in.empty()) {
        const auto turn = static_cast<std::uint8_t>(in.front());
        in.remove_prefix(1);
        const bool server = (turn & 0x80) != 0;
        const std::size_t length = std::min<std::size_t>(turn & 0x7f, in.size());
        const std::string_view said = in.substr(0, length);
        in.remove_prefix(length);
        if (server && !serverEnded) {
            if (length == 0) {
                framer->ServerEnded(toClient);
                serverEnded = true;
            } else {
                masker.ServerReplied(said);
                framer->FromServer(said, toClient, toServer);
            }
        } else if (!server && !clientEnded) {
            if (length == 0) {
                framer->ClientEnded(toServer);
                clientEnded = true;
            } else {
                framer->FromClient(said, toServer, toClient);
                fromClient += length;
            }
        }
    }
    if (!clientEnded) {
        framer->ClientEnded(toServer);
    }
    if (!serverEnded) {
        framer->ServerEnded(toClient);
    }
    const std::string shown = masker.TakeShown();
    // The trace shows no line the relay did not send.
    Check(std::count(shown.begin(), shown.end(), '\n') <=
          std::count(toServer.begin(), toServer.end(), '\n'));
    // Once the server has gone, nothing is held for it any more.
    Check(framer->HeldForServer() == 0);
    // Rewriting may grow a header line, but never without bound.
    Check(toServer.size() <= 4 * fromClient + 4096);
    return 0;
}

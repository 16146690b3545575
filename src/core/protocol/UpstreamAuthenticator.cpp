#include "core/protocol/UpstreamAuthenticator.h"

#include "core/config/AsciiText.h"

#include <optional>
#include <utility>

#include "core/oauth/Base64.h"
#include "core/oauth/SaslOAuth.h"
#include "core/protocol/LineEnds.h"
#include "platform/EscapedText.h"

namespace vantel {
namespace {}  // namespace

UpstreamAuthenticator::UpstreamAuthenticator(std::unique_ptr<ProtocolFramer> inner,
                                             const ServerEntry& entry, LoginHost& host)
    : inner_(std::move(inner)), entry_(entry), host_(host), alive_(std::make_shared<bool>(true)) {}

UpstreamAuthenticator::~UpstreamAuthenticator() = default;

void UpstreamAuthenticator::Observe(ClientStreamObserver* observer) {
    ProtocolFramer::Observe(observer);
    inner_->Observe(observer);
}

SaslMechanism UpstreamAuthenticator::Mechanism() const {
    if (const std::optional<SaslMechanism> asked = ParseSaslMechanism(entry_.OAuth.Mechanism)) {
        return *asked;
    }
    // Microsoft takes XOAUTH2 alone, whatever a server lists.
    if (offersOauthBearer_ && !offersXoauth2_ && entry_.OAuth.Provider != "microsoft") {
        return SaslMechanism::OAuthBearer;
    }
    return SaslMechanism::XOAuth2;
}

std::string UpstreamAuthenticator::Credentials() const {
    return SaslInitialResponse(Mechanism(), entry_.OAuth.Account, token_,
                               {entry_.Name, std::to_string(entry_.RemotePort)});
}

void UpstreamAuthenticator::ServerOffers(bool initialResponse, bool xoauth2, bool oauthBearer) {
    initialResponse_ = initialResponse_ || initialResponse;
    offersXoauth2_ = offersXoauth2_ || xoauth2;
    offersOauthBearer_ = offersOauthBearer_ || oauthBearer;
}

bool UpstreamAuthenticator::DecodePlain(std::string_view response, std::string& account,
                                        std::string& password) {
    const std::optional<std::string> decoded = Base64Decode(response);
    if (!decoded) {
        return false;
    }
    const std::size_t first = decoded->find('\0');
    const std::size_t second =
        first == std::string::npos ? std::string::npos : decoded->find('\0', first + 1);
    if (second == std::string::npos || decoded->find('\0', second + 1) != std::string::npos) {
        return false;
    }
    const std::string authzid = decoded->substr(0, first);
    account = decoded->substr(first + 1, second - first - 1);
    password = decoded->substr(second + 1);
    return authzid.empty() || authzid == account;
}

std::string UpstreamAuthenticator::ClientText(std::string_view why) {
    std::string text;
    for (const char c : why) {
        text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    }
    return text;
}

bool UpstreamAuthenticator::WordIs(std::string_view line, std::size_t index,
                                   std::initializer_list<std::string_view> upper) {
    for (; index > 0; --index) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) {
            return false;
        }
        line.remove_prefix(blank + 1);
    }
    const std::string_view word = line.substr(0, line.find_first_of(" \r\n"));
    for (const std::string_view candidate : upper) {
        if (EqualsNoCase(word, candidate)) {
            return true;
        }
    }
    return false;
}

void UpstreamAuthenticator::FromClient(std::string_view block, std::string& toServer,
                                       std::string& toClient) {
    if (stage_ == Stage::Relaying) {
        inner_->FromClient(block, toServer, toClient);
        return;
    }
    if (stage_ == Stage::Deaf) {
        return;
    }
    pending_.append(block);
    if (stage_ != Stage::Open) {
        return;  // held behind the login under way
    }
    Output out;
    ReadPending(out);
    toServer += out.toServer;
    toClient += out.toClient;
}

void UpstreamAuthenticator::ReadPending(Output& out) {
    while (stage_ == Stage::Open && !pending_.empty()) {
        if (passingLine_) {
            const std::size_t end = pending_.find('\n');
            const std::size_t used = end == std::string::npos ? pending_.size() : end + 1;
            inner_->FromClient(std::string_view(pending_).substr(0, used), out.toServer,
                               out.toClient);
            pending_.erase(0, used);
            passingLine_ = end == std::string::npos;
            continue;
        }
        ClientStep step = ReadClient(pending_);
        if (step.kind == ClientStep::Kind::More) {
            if (pending_.size() > kMaxLoginLine) {
                if (StartsLogin(pending_)) {
                    // Where the login would end cannot be told, and what follows may be
                    // its password: none of it may go to the server as commands.
                    host_.Note("The client's login is too long; nothing more it sends is read");
                    out.toClient += TooLongAnswer();
                    pending_.clear();
                    stage_ = Stage::Deaf;
                    return;
                }
                // No login is this long: the line goes to the server as any other would.
                passingLine_ = true;
                continue;
            }
            return;
        }
        const std::string used = pending_.substr(0, step.used);
        pending_.erase(0, step.used);
        switch (step.kind) {
            case ClientStep::Kind::Pass:
                inner_->FromClient(used, out.toServer, out.toClient);
                break;
            case ClientStep::Kind::Answer:
                out.toClient += step.answer;
                break;
            case ClientStep::Kind::Login:
                Login(step.account, step.password);
                return;
            case ClientStep::Kind::More:
                break;
        }
    }
}

void UpstreamAuthenticator::Login(const std::string& account, const std::string& password) {
    stage_ = Stage::Checking;
    account_ = account;
    renewed_ = false;
    AccessTokenSource* tokens = host_.tokens();
    std::weak_ptr<bool> alive = alive_;
    if (tokens == nullptr) {
        host_.After(0, [this, alive] {
            if (!alive.expired()) {
                TokenArrived({AccessTokenAnswer::Kind::Temporary, "",
                              "this program cannot sign in with OAuth 2.0"});
            }
        });
        return;
    }
    if (!tokens->CheckLocalLogin(entry_.OAuth, account, password)) {
        host_.Note("The client's login as " + EscapeControls(account) +
                   " does not match the account and local password of this entry");
        host_.After(host_.LoginFailed(), [this, alive] {
            if (alive.expired()) {
                return;
            }
            Output out;
            Refuse(RefusalAnswer("the account or Vantel's local password is wrong"), out);
            Send(out);
        });
        return;
    }
    host_.LoginSucceeded();
    tokens->Request(entry_.OAuth, false, [this, alive](AccessTokenAnswer answer) {
        if (!alive.expired()) {
            TokenArrived(answer);
        }
    });
}

void UpstreamAuthenticator::TokenArrived(const AccessTokenAnswer& answer) {
    Output out;
    switch (answer.kind) {
        case AccessTokenAnswer::Kind::Token:
            Authenticate(answer.token, out);
            break;
        case AccessTokenAnswer::Kind::Temporary:
            host_.Note("No access token for " + EscapeControls(account_) + ": " +
                       EscapeControls(answer.reason));
            Refuse(TemporaryAnswer(answer.reason), out);
            break;
        case AccessTokenAnswer::Kind::SignInNeeded:
            host_.Note("No access token for " + EscapeControls(account_) + ": " +
                       EscapeControls(answer.reason));
            Refuse(RefusalAnswer(answer.reason), out);
            break;
    }
    Send(out);
}

void UpstreamAuthenticator::Authenticate(const std::string& token, Output& out) {
    if (serverEnded_) {
        Refuse(TemporaryAnswer("the server closed the connection"), out);
        return;
    }
    stage_ = Stage::Upstream;
    token_ = token;
    credentialsSent_ = false;
    serverLine_.clear();
    const std::string mechanism(SaslMechanismName(Mechanism()));
    const std::string credentials = Credentials();
    if (SendsInitialResponse(credentials.size())) {
        credentialsSent_ = true;
        ToServer(out, StartCommand(mechanism, credentials));
    } else {
        ToServer(out, StartCommand(mechanism, ""));
    }
}

void UpstreamAuthenticator::FromServer(std::string_view block, std::string& toClient,
                                       std::string& toServer) {
    if (stage_ == Stage::Relaying) {
        inner_->FromServer(block, toClient, toServer);
        return;
    }
    Output out;
    if (stage_ != Stage::Upstream) {
        std::string passed;
        inner_->FromServer(block, passed, out.toServer);
        OfferLines(passed, out.toClient);
    } else {
        while (!block.empty() && stage_ == Stage::Upstream) {
            const std::size_t end = block.find('\n');
            const std::size_t take = end == std::string_view::npos ? block.size() : end + 1;
            serverLine_.append(block.substr(0, take));
            block.remove_prefix(take);
            if (end == std::string_view::npos && serverLine_.size() <= kMaxLoginLine) {
                break;
            }
            const std::string line = std::move(serverLine_);
            serverLine_.clear();
            ServerLine(line, out);
        }
        if (!block.empty()) {
            // The exchange is over and what follows is the session's: the framer reads it.
            FromServer(block, out.toClient, out.toServer);
        }
    }
    toClient += out.toClient;
    toServer += out.toServer;
}

void UpstreamAuthenticator::OfferLines(std::string_view text, std::string& toClient) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            offerLine_.append(text);
            if (offerLine_.size() > kMaxLoginLine) {
                toClient += offerLine_;  // no offer is this long: it passes as it came
                offerLine_.clear();
            }
            return;
        }
        offerLine_.append(text.substr(0, end + 1));
        text.remove_prefix(end + 1);
        toClient += Offered(offerLine_);
        offerLine_.clear();
    }
}

void UpstreamAuthenticator::ServerLine(std::string_view line, Output& out) {
    std::string challenge;
    switch (ReadServer(line, challenge)) {
        case ServerStep::Part:
            return;
        case ServerStep::Aside:
            out.toClient += Offered(line);
            return;
        case ServerStep::GoAhead:
            if (!credentialsSent_) {
                credentialsSent_ = true;
                ToServer(out, Credentials() + "\r\n");
                return;
            }
            [[fallthrough]];
        case ServerStep::Challenge: {
            // The server refused the token and says why in its challenge; the exchange only
            // ends once that is answered.
            std::string why;
            if (const std::optional<SaslErrorChallenge> said =
                    DecodeSaslErrorChallenge(challenge)) {
                why = "status " + said->status +
                      (said->scope.empty() ? "" : ", scope " + said->scope);
            }
            host_.Note("The server refused the access token" +
                       (why.empty() ? std::string() : " (" + EscapeControls(why) + ")"));
            ToServer(out, std::string(SaslErrorChallengeAnswer(Mechanism())) + "\r\n");
            return;
        }
        case ServerStep::Success:
            Succeed(line, out);
            return;
        case ServerStep::Refusal:
            if (!renewed_) {
                // Microsoft says no more than no: a token that looks valid may have been
                // revoked. One renewal, one more try.
                renewed_ = true;
                stage_ = Stage::Checking;
                host_.Note("The server refused the access token; renewing it and trying again");
                std::weak_ptr<bool> alive = alive_;
                host_.tokens()->Request(entry_.OAuth, true, [this, alive](AccessTokenAnswer a) {
                    if (!alive.expired()) {
                        TokenArrived(a);
                    }
                });
                return;
            }
            Refuse(RefusalAnswer("the server refused the access token: " +
                                 OneLine(WithoutLineEnd(line))),
                   out);
            return;
    }
}

void UpstreamAuthenticator::Succeed(std::string_view serverLine, Output& out) {
    token_.clear();
    host_.Note("Signed in to the server as " + EscapeControls(entry_.OAuth.Account));
    out.toClient += SuccessAnswer(serverLine);
    stage_ = Stage::Relaying;
    Release(out);
}

void UpstreamAuthenticator::Refuse(const std::string& answer, Output& out) {
    token_.clear();
    out.toClient += answer;
    stage_ = Stage::Open;
    ExchangeEnded();
    Release(out);
}

void UpstreamAuthenticator::Release(Output& out) {
    if (stage_ == Stage::Relaying) {
        std::string held = std::move(pending_);
        pending_.clear();
        if (passingLine_ || !held.empty()) {
            inner_->FromClient(held, out.toServer, out.toClient);
        }
        passingLine_ = false;
    } else {
        ReadPending(out);
    }
    if (clientEnded_ && stage_ != Stage::Checking && stage_ != Stage::Upstream) {
        clientEnded_ = false;
        ClientEnded(out.toServer);
    }
}

void UpstreamAuthenticator::Send(Output& out) {
    if (!out.toServer.empty() || !out.toClient.empty()) {
        host_.Emit(out.toServer, out.toClient);
    }
}

void UpstreamAuthenticator::ToServer(Output& out, std::string_view bytes) {
    Report(ClientStreamObserver::Run::Command, bytes);
    out.toServer.append(bytes);
}

void UpstreamAuthenticator::ClientEnded(std::string& toServer) {
    if (stage_ == Stage::Relaying) {
        inner_->ClientEnded(toServer);
        return;
    }
    if (stage_ != Stage::Open && stage_ != Stage::Deaf) {
        clientEnded_ = true;  // the end follows the login under way
        return;
    }
    // What is left is a line without its end: it goes, unless it is a login cut short, which
    // may hold the local password.
    if (!pending_.empty()) {
        const ClientStep step = ReadClient(pending_);
        if ((step.kind == ClientStep::Kind::More && !StartsLogin(pending_)) ||
            step.kind == ClientStep::Kind::Pass) {
            std::string ignored;
            inner_->FromClient(pending_, toServer, ignored);
        }
        pending_.clear();
    }
    inner_->ClientEnded(toServer);
}

void UpstreamAuthenticator::ServerEnded(std::string& toClient) {
    serverEnded_ = true;
    if (stage_ == Stage::Upstream) {
        // Some servers close after turning a token down. The client is told to try again,
        // and by then the token is renewed, as it would have been for a second try here.
        if (!renewed_ && host_.tokens() != nullptr) {
            renewed_ = true;
            host_.tokens()->Request(entry_.OAuth, true, [](AccessTokenAnswer) {});
        }
        Output out;
        Refuse(TemporaryAnswer("the server closed the connection while Vantel signed in"), out);
        toClient += out.toClient;
    } else if (!offerLine_.empty()) {
        toClient += offerLine_;
        offerLine_.clear();
    }
    inner_->ServerEnded(toClient);
}

bool UpstreamAuthenticator::PassesUnread(bool fromServer) const {
    return stage_ == Stage::Relaying && inner_->PassesUnread(fromServer);
}

std::size_t UpstreamAuthenticator::HeldForServer() const {
    return (stage_ == Stage::Relaying ? 0 : pending_.size()) + inner_->HeldForServer();
}

bool UpstreamAuthenticator::ServerInMessage() const {
    return stage_ == Stage::Relaying && inner_->ServerInMessage();
}

void UpstreamAuthenticator::ServerPassedUnread() {
    inner_->ServerPassedUnread();
}

}  // namespace vantel

#include "daemon/RelayDaemon.h"

#include <cstdlib>
#include <ctime>

#include "core/oauth/TokenBroker.h"

#include "platform/TlsClient.h"
#include "platform/store/FileStore.h"

namespace vantel {

RelayDaemon::RelayDaemon(EventLoop& loop, Options options)
    : loop_(loop),
      options_(std::move(options)),
      logFile_(options_.logPath.empty()
                   ? nullptr
                   : std::make_unique<RollingLogFile>(options_.logPath, 0)),  // rotated outside
      logNotifier_(logFile_ ? std::make_unique<LogNotifier>(*logFile_) : nullptr),
      tee_(logNotifier_ ? std::make_unique<TeeNotifier>(console_, *logNotifier_) : nullptr),
      coalescer_(loop_, Output(), NoticeCoalescer::kLogHoldMs, true),
      logTrace_(logFile_ && options_.trace ? std::make_unique<LogTrace>(*logFile_, &trace_)
                                           : nullptr),
      host_(loop_, coalescer_, Trace(), *this, static_cast<std::uint32_t>(std::time(nullptr))) {
    if (logTrace_) {
        logTrace_->SetEnabled(true);
    }
    std::string problem;
    auto tls = CreateTlsContext({}, problem);
    host_.UseTls(std::move(tls), problem);
    UseTokens();
}

void RelayDaemon::UseTokens() {
    const std::filesystem::path directory = FileTokenStore::DefaultDirectory();
    if (directory.empty()) {
        return;
    }
    CurlHttpClient::Options http;
    // Tests only: the roots of a test authority, so that no test touches the system's trust.
    if (const char* ca = std::getenv("VANTEL_TEST_CA_FILE"); ca != nullptr) {
        http.caFile = ca;
    }
    http_ = std::make_unique<CurlHttpClient>(loop_, http);
    tokens_ = std::make_unique<FileTokenStore>(directory);
    host_.UseTokens(std::make_unique<TokenBroker>(
        loop_, *tokens_, *http_, clock_, crypto_, coalescer_,
        [this](const OAuthSignIn& signIn) { return SignInHint(signIn); }));
}

std::string RelayDaemon::SignInHint(const OAuthSignIn& signIn) {
    const auto& servers = host_.settings().ServerList;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (servers[i].SignsInWithOAuth() && servers[i].OAuth.Account == signIn.Account &&
            servers[i].OAuth.Provider == signIn.Provider) {
            return "run vantel auth " + std::to_string(i + 1);
        }
    }
    return "sign the entry in with vantel auth";
}

Notifier& RelayDaemon::Output() {
    return tee_ ? static_cast<Notifier&>(*tee_) : console_;
}

TraceSink* RelayDaemon::Trace() {
    if (!options_.trace) {
        return nullptr;
    }
    return logTrace_ ? static_cast<TraceSink*>(logTrace_.get()) : &trace_;
}

bool RelayDaemon::Load() {
    if (logFile_ && !logFile_->Ready()) {
        console_.ShowMessage(logFile_->LastError());
        return false;
    }
    FileStore store(options_.storePath);
    if (!store.Load()) {
        coalescer_.ShowMessage(store.LastError());
        return false;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(options_.storePath, ignored)) {
        coalescer_.ShowMessage("no settings file at " + options_.storePath.string() +
                               "; relaying nothing until one is written there");
    }
    host_.Load(store, options_.machine);
    return true;
}

void RelayDaemon::Start() {
    host_.Start();
}

void RelayDaemon::Reload() {
    if (stopping_) {
        return;
    }
    // A file caught in the middle of being rewritten, or removed, is not "no servers": taking
    // it so would close every port.
    std::error_code error;
    const auto size = std::filesystem::file_size(options_.storePath, error);
    if (error || size == 0) {
        coalescer_.ShowMessage(options_.storePath.string() +
                               (error ? ": " + error.message() : ": the file is empty") +
                               "; settings not reloaded, the running ones stay");
        return;
    }
    FileStore store(options_.storePath);
    if (!store.Load()) {
        coalescer_.ShowMessage(store.LastError());
        coalescer_.ShowMessage("settings not reloaded; the running ones stay");
        return;
    }
    host_.Reload(store, options_.machine);
    coalescer_.ShowMessage("settings reloaded from " + options_.storePath.string() + ", " +
                           std::to_string(host_.settings().ServerList.size()) + " server entries");
}

void RelayDaemon::Stop() {
    if (stopping_) {
        loop_.Quit();  // asked twice: the user does not want to wait
        return;
    }
    stopping_ = true;
    host_.Stop([this] { loop_.Quit(); });
}

}  // namespace vantel

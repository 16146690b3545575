#include "daemon/RelayDaemon.h"

#include <ctime>

#include "platform/store/FileStore.h"

namespace vantel {

RelayDaemon::RelayDaemon(EventLoop& loop, Options options)
    : loop_(loop),
      options_(std::move(options)),
      host_(loop_, notifier_, options_.trace ? &trace_ : nullptr, *this,
            static_cast<std::uint32_t>(std::time(nullptr))) {}

bool RelayDaemon::Load() {
    FileStore store(options_.storePath);
    if (!store.Load()) {
        notifier_.ShowMessage(store.LastError());
        return false;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(options_.storePath, ignored)) {
        notifier_.ShowMessage("no settings file at " + options_.storePath.string() +
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
        notifier_.ShowMessage(options_.storePath.string() +
                              (error ? ": " + error.message() : ": the file is empty") +
                              "; settings not reloaded, the running ones stay");
        return;
    }
    FileStore store(options_.storePath);
    if (!store.Load()) {
        notifier_.ShowMessage(store.LastError());
        notifier_.ShowMessage("settings not reloaded; the running ones stay");
        return;
    }
    host_.Reload(store, options_.machine);
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

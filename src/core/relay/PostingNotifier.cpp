#include "core/relay/PostingNotifier.h"

#include <string>

namespace vantel {

void PostingNotifier::ShowMessage(std::string_view text) {
    loop_.Post([alive = std::weak_ptr<bool>(alive_), &target = target_, text = std::string(text)] {
        const auto flag = alive.lock();
        if (flag && *flag) {
            target.ShowMessage(text);
        }
    });
}

void PostingNotifier::ShowError(const Notice& notice) {
    loop_.Post([alive = std::weak_ptr<bool>(alive_), &target = target_, notice] {
        const auto flag = alive.lock();
        if (flag && *flag) {
            target.ShowError(notice);
        }
    });
}

}  // namespace vantel

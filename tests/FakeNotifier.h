// A Notifier that remembers what it was told.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Notifier.h"

namespace vantel::test {

class FakeNotifier : public Notifier {
  public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

}  // namespace vantel::test

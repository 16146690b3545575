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
    bool AskYesNo(std::string_view text) override {
        questions.emplace_back(text);
        return answer;
    }
    bool AskOkCancel(std::string_view text) override {
        questions.emplace_back(text);
        return answer;
    }
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = true;  ///< what AskYesNo and AskOkCancel answer
};

}  // namespace vantel::test

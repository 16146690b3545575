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
    /// A notice is kept whole, and its text among the messages.
    void ShowError(const Notice& notice) override {
        notices.push_back(notice);
        messages.push_back(notice.text);
    }
    bool AskYesNo(std::string_view text) override {
        questions.emplace_back(text);
        return answer;
    }
    bool AskOkCancel(std::string_view text) override {
        questions.emplace_back(text);
        return answer;
    }
    std::vector<std::string> messages;
    std::vector<Notice> notices;
    std::vector<std::string> questions;
    bool answer = true;  ///< what AskYesNo and AskOkCancel answer
};

}  // namespace vantel::test

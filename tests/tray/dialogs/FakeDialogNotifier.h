// A DialogNotifier that remembers what it was told, and by which window.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tray/dialogs/DialogNotifier.h"

namespace vantel::test {

class FakeDialogNotifier : public DialogNotifier {
  public:
    void ShowMessage(std::string_view text) override { ShowMessage(nullptr, text); }
    void ShowMessage(HWND asking, std::string_view text) override {
        messages.emplace_back(text);
        askers.push_back(asking);
    }
    void ShowWarning(HWND asking, std::string_view text) override { ShowMessage(asking, text); }
    bool AskYesNo(std::string_view text) override { return AskOkCancel(nullptr, text); }
    bool AskOkCancel(std::string_view text) override { return AskOkCancel(nullptr, text); }
    bool AskOkCancel(HWND asking, std::string_view text) override {
        questions.emplace_back(text);
        askers.push_back(asking);
        return answer;
    }
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    /// The window that asked, for every message and question in turn (null: none said).
    std::vector<HWND> askers;
    bool answer = true;  ///< what the questions are answered
};

}  // namespace vantel::test

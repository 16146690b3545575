#include "tray/dialogs/DialogData.h"

#include <gtest/gtest.h>

#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/resource.h"

namespace vantel {
namespace {

/// A dialog with one edit to exchange numbers with: the About box's template does not have
/// one, so an edit is added to it at run time.
class NumberDialog : public Dialog {
  public:
    static constexpr int kEdit = 4000;
    NumberDialog() : Dialog(GetModuleHandleA(nullptr), IDD_ABOUTBOX) {}

  protected:
    bool OnInitDialog() override {
        CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 60, 20, window(),
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEdit)), instance(), nullptr);
        return true;
    }
};

TEST(DialogData, IntegersAreReadWholeOrRefusedWithTheStandardMessage) {
    NumberDialog dialog;
    test::FakeDialogNotifier notifier;
    const INT_PTR result = test::RunModalWith(dialog, [&](HWND window) {
        int value = 7;
        const auto read = [&](const char* text) {
            SetItemText(window, NumberDialog::kEdit, text);
            return ReadItemInt(window, NumberDialog::kEdit, value, notifier);
        };
        EXPECT_TRUE(read(" -25 "));
        EXPECT_EQ(value, -25);
        for (const char* bad : {"", "12a", "abc", "1 2", "99999999999"}) {
            EXPECT_FALSE(read(bad)) << bad;
            EXPECT_EQ(value, -25) << bad;
        }
        EXPECT_EQ(notifier.messages.size(), 5u);
        EXPECT_EQ(notifier.messages.back(), "Please enter an integer.");
        EXPECT_EQ(GetFocus(), GetDlgItem(window, NumberDialog::kEdit));

        EXPECT_TRUE(CheckItemRange(window, NumberDialog::kEdit, 60, 0, 60, notifier));
        EXPECT_FALSE(CheckItemRange(window, NumberDialog::kEdit, 61, 0, 60, notifier));
        EXPECT_EQ(notifier.messages.back(), "Please enter an integer between 0 and 60.");
        EXPECT_EQ(notifier.askers, std::vector<HWND>(6, window));
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
}

}  // namespace
}  // namespace vantel

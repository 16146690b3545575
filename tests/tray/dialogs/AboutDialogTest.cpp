#include "tray/dialogs/AboutDialog.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shellapi.h>

#include "platform/win32/Win32EventLoop.h"
#include "tray/BuiltPrograms.h"
#include "tray/MessageBoxNotifier.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/FakeLauncher.h"
#include "tray/dialogs/ModalDriver.h"

namespace vantel {
namespace {

using test::FakeLauncher;

SIZE TextExtent(HWND control) {
    const std::string text = GetItemText(GetParent(control), GetDlgCtrlID(control));
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size;
}

class AboutDialogTest : public ::testing::Test {
  protected:
    AboutDialogTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
    }
    test::FakeDialogNotifier notifier_;
    DialogContext context_;
    FakeLauncher launcher_;
};

TEST_F(AboutDialogTest, LinksKeepTheirTextsPointAtTheirUrlsAndFitTheirText) {
    AboutDialog about(context_, launcher_);
    test::RunModalWith(about, [&](HWND dialog) {
        EXPECT_EQ(GetItemText(dialog, AboutDialog::kMailLink), "Vantel mail");
        EXPECT_EQ(GetItemText(dialog, AboutDialog::kHomepageLink), "Vantel Homepage");
        EXPECT_EQ(about.mailLink().url().rfind("mailto:", 0), 0u);
        EXPECT_EQ(about.homepageLink().url().rfind("https://", 0), 0u);
        for (int id : {AboutDialog::kMailLink, AboutDialog::kHomepageLink}) {
            HWND control = GetDlgItem(dialog, id);
            RECT rect{};
            GetWindowRect(control, &rect);
            const SIZE text = TextExtent(control);
            EXPECT_EQ(rect.right - rect.left, text.cx) << id;
            EXPECT_EQ(rect.bottom - rect.top, text.cy) << id;
            EXPECT_NE(GetWindowLongPtrA(control, GWL_STYLE) & SS_NOTIFY, 0) << id;
            LOGFONTA font{};
            GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)),
                       sizeof font, &font);
            EXPECT_TRUE(font.lfUnderline) << id;
        }
        // Link colour until opened, the visited colour after.
        HWND mail = GetDlgItem(dialog, AboutDialog::kMailLink);
        HDC dc = GetDC(mail);
        SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(mail));
        EXPECT_EQ(GetTextColor(dc), HyperLink::kLinkColour);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(AboutDialog::kMailLink, STN_CLICKED),
                     reinterpret_cast<LPARAM>(mail));
        EXPECT_TRUE(about.mailLink().visited());
        EXPECT_FALSE(about.homepageLink().visited());
        SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(mail));
        EXPECT_EQ(GetTextColor(dc), HyperLink::kVisitedColour);
        ReleaseDC(mail, dc);
        test::Click(dialog, IDOK);
    });
    EXPECT_EQ(launcher_.opened, std::vector<std::string>{about.mailLink().url()});
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(AboutDialogTest, FailedOpenIsReportedAndTheLinkStaysUnvisited) {
    launcher_.shellResult = SE_ERR_FNF;
    AboutDialog about(context_, launcher_);
    test::RunModalWith(about, [&](HWND dialog) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(AboutDialog::kHomepageLink, STN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, AboutDialog::kHomepageLink)));
        EXPECT_EQ(notifier_.askers,
                  std::vector<HWND>{GetDlgItem(dialog, AboutDialog::kHomepageLink)});
        test::Click(dialog, IDOK);
    });
    EXPECT_FALSE(about.homepageLink().visited());
    EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Unable to open hyperlink:\n\n"
                                                           "The specified file was not found."});
}

TEST_F(AboutDialogTest, FailedOpenWarnsWithAnExclamationMark) {
    launcher_.shellResult = SE_ERR_FNF;
    MessageBoxNotifier boxes;
    context_.notifier = &boxes;
    Win32EventLoop loop;
    bool boxSeen = false;
    HICON icon = nullptr;
    const TimerId watcher = loop.StartTimer(20, true, [&] {
        HWND box = FindWindowA("#32770", "Vantel");
        if (box == nullptr || boxSeen) {
            return;
        }
        boxSeen = true;
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr && icon == nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            }
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    AboutDialog about(context_, launcher_);
    test::RunModalWith(about, [&](HWND dialog) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(AboutDialog::kHomepageLink, STN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, AboutDialog::kHomepageLink)));
        test::Click(dialog, IDOK);
    });
    loop.StopTimer(watcher);
    ASSERT_TRUE(boxSeen);
    EXPECT_EQ(icon, LoadIconA(nullptr, IDI_EXCLAMATION));
}

TEST_F(AboutDialogTest, ShowsTheVersionTheVersionResourceCarries) {
    const std::string path = test::BuiltProgram("vantel.exe");
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    char* text = nullptr;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const std::string version(text);
    EXPECT_EQ(version, std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                           std::to_string(HIWORD(fixed->dwFileVersionLS)));

    AboutDialog about(context_, launcher_);
    std::string shown;
    test::RunModalWith(about, [&](HWND dialog) {
        shown = GetItemText(dialog, AboutDialog::kVersionText);
        test::Click(dialog, IDOK);
    });
    EXPECT_EQ(shown, "Vantel v. " + version);
}

TEST_F(AboutDialogTest, ALinkWithoutTextShowsItsUrl) {
    AboutDialog about(context_, launcher_);
    test::RunModalWith(about, [&](HWND dialog) {
        HWND blank = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 60, 200, 20, dialog,
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
        SendMessageA(blank, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
        HyperLink link(launcher_, notifier_);
        link.SetURL("https://example.org/");
        link.Attach(blank);
        char text[64] = {};
        GetWindowTextA(blank, text, sizeof text);
        EXPECT_STREQ(text, "https://example.org/");
        test::Click(dialog, IDOK);
    });
}

TEST(LinkLauncher, FallsBackToTheHtmBrowserCutAtItsPlaceholder) {
    const std::string url = "https://vantel.example/";
    EXPECT_EQ(LinkLauncher::BrowserCommandLine("\"C:\\b\\web.exe\" -new \"%1\" -tail", url),
              "\"C:\\b\\web.exe\" -new  " + url);
    EXPECT_EQ(LinkLauncher::BrowserCommandLine("C:\\b\\web.exe %1 -tail", url),
              "C:\\b\\web.exe  " + url);
    EXPECT_EQ(LinkLauncher::BrowserCommandLine("C:\\b\\web.exe", url), "C:\\b\\web.exe " + url);

    FakeLauncher launcher;
    launcher.shellResult = SE_ERR_NOASSOC;
    EXPECT_EQ(launcher.GotoURL(url, SW_SHOWNORMAL), SE_ERR_NOASSOC) << "no .htm handler";
    launcher.classes[".htm"] = "htmlfile";
    EXPECT_EQ(launcher.GotoURL(url, SW_SHOWNORMAL), SE_ERR_NOASSOC) << "handler without command";
    EXPECT_TRUE(launcher.ran.empty());
    launcher.classes["htmlfile\\shell\\open\\command"] = "web.exe \"%1\"";
    EXPECT_EQ(launcher.GotoURL(url, SW_SHOWNORMAL), 33);
    EXPECT_EQ(launcher.ran, std::vector<std::string>{"web.exe  " + url});
}

}  // namespace
}  // namespace vantel

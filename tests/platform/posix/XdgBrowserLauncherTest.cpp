// What the launcher hands to xdg-open, with a stand-in script that notes its arguments.
#include "platform/posix/XdgBrowserLauncher.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "TempDir.h"

namespace vantel {
namespace {

std::string ReadWhenThere(const std::filesystem::path& path) {
    for (int i = 0; i < 250 && !std::filesystem::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(XdgBrowserLauncherTest, OpensOnlyOurAddressesAndOnlyWithADisplay) {
    test::TempDir dir;
    const auto script = dir.path() / "fake-open";
    const auto noted = dir.path() / "noted";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > " << noted.string() << "\n";
    chmod(script.c_str(), 0755);
    XdgBrowserLauncher launcher(script.string());

    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string oldDisplay = display ? display : "";
    const std::string oldWayland = wayland ? wayland : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    std::string why;
    EXPECT_FALSE(launcher.Open("https://login.example.test/authorize?a=b", why));
    EXPECT_NE(why.find("no display"), std::string::npos);

    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    const char* refused[] = {"http://login.example.test/",
                             "file:///etc/passwd",
                             "javascript:alert(1)",
                             "https://x/a b",
                             "https://x/$(id)'",
                             "https://x/`id`",
                             "https://x/\n",
                             "-https://x/",
                             "https://"};
    for (const char* url : refused) {
        SCOPED_TRACE(url);
        why.clear();
        EXPECT_FALSE(launcher.Open(url, why));
        EXPECT_NE(why, "");
    }
    EXPECT_FALSE(std::filesystem::exists(noted));

    const std::string url = "https://login.example.test/authorize?a=b&c=%20d;e|f";
    ASSERT_TRUE(launcher.Open(url, why)) << why;
    EXPECT_EQ(ReadWhenThere(noted), "1\n" + url + "\n") << "one argument, no shell between";

    XdgBrowserLauncher missing((dir.path() / "none").string());
    EXPECT_FALSE(missing.Open(url, why));
    EXPECT_NE(why.find("cannot start"), std::string::npos);

    if (display)
        setenv("DISPLAY", oldDisplay.c_str(), 1);
    if (wayland) {
        setenv("WAYLAND_DISPLAY", oldWayland.c_str(), 1);
    } else {
        unsetenv("WAYLAND_DISPLAY");
    }
}

}  // namespace
}  // namespace vantel

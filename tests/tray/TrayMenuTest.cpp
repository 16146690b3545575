#include "tray/TrayMenu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tray/resource.h"

namespace vantel {
namespace {

/// One menu item as the user sees it.
struct Item {
    std::string text;  ///< "-" for a separator
    UINT id;
    bool checked;
    bool grayed;

    bool operator==(const Item& other) const {
        return text == other.text && id == other.id && checked == other.checked &&
               grayed == other.grayed;
    }
};

void PrintTo(const Item& item, std::ostream* os) {
    *os << "{\"" << item.text << "\", " << item.id << (item.checked ? ", checked" : "")
        << (item.grayed ? ", grayed" : "") << "}";
}

Item ReadItem(HMENU menu, int position) {
    char text[256] = {};
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = sizeof text;
    EXPECT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info));
    Item item;
    item.text = (info.fType & MFT_SEPARATOR) != 0 ? "-" : text;
    item.id = info.hSubMenu != nullptr ? 0 : info.wID;
    item.checked = (info.fState & MFS_CHECKED) != 0;
    // Separators come greyed from the resource compiler; that says nothing.
    item.grayed = (info.fState & MFS_GRAYED) != 0 && (info.fType & MFT_SEPARATOR) == 0;
    return item;
}

std::vector<Item> Items(HMENU menu) {
    std::vector<Item> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        items.push_back(ReadItem(menu, i));
    }
    return items;
}

ServerEntry Entry(ServerType type, int localPort, std::string name) {
    ServerEntry entry;
    entry.Type = StoredServerType(type);
    entry.LocalPort = localPort;
    entry.RemotePort = localPort;
    entry.Name = std::move(name);
    return entry;
}

class TrayMenuTest : public ::testing::Test {
  protected:
    HMENU Submenu(const TrayMenu& menu, int position) { return GetSubMenu(menu.popup(), position); }
    HINSTANCE instance_ = GetModuleHandleA(nullptr);
};

TEST_F(TrayMenuTest, FullMenuListsGroupsSchemasAndChecks) {
    RelaySettings settings;
    settings.ServerList = {Entry(ServerType::Smtp, 25, "a.example.org"),
                           Entry(ServerType::Pop3, 110, "p.example.org"),
                           Entry(ServerType::Smtp, 25, "b.example.org"),
                           Entry(ServerType::Smtp, 2525, "other-port.example.org"),
                           Entry(ServerType::Imap4, 143, "imap.example.org"),
                           Entry(ServerType::Pop3, 110, "q.example.org"),
                           Entry(ServerType::Smtp, 110, "smtp-on-pop-port.example.org")};
    settings.DefaultServer = 1;
    settings.DefaultPOPServer = 2;
    settings.POPCycleChange = 1;
    settings.Schemes = {"home", "work"};
    settings.DefaultSchema = 2;
    TrayMenu menu(instance_, settings, {true, true, false, {}});
    ASSERT_NE(menu.popup(), nullptr);

    const std::vector<Item> top = {{"&Options", ID_TRAY_OPTIONS, false, false},
                                   {"SMTP Servers", 0, false, false},
                                   {"POP Servers", 0, false, false},
                                   {"&Enable", ID_TRAY_ENABLE, true, false},
                                   {"&Schema", 0, false, false},
                                   {"Se&rvice", 0, false, false},
                                   {"&About", IDM_ABOUTBOX, false, false},
                                   {"E&xit", ID_TRAY_EXIT, false, false}};
    EXPECT_EQ(Items(menu.popup()), top);
    EXPECT_EQ(GetMenuDefaultItem(menu.popup(), TRUE, 0), 0u);

    const std::vector<Item> smtp = {{"a.example.org", ID_SMTP_FIRST, false, false},
                                    {"b.example.org", ID_SMTP_FIRST + 1, true, false}};
    EXPECT_EQ(Items(Submenu(menu, 1)), smtp);
    const std::vector<Item> pop = {{"Cyclic change", ID_POP_CYCLIC, true, false},
                                   {"-", 0, false, false},
                                   {"p.example.org", ID_POP_FIRST + 1, false, false},
                                   {"q.example.org", ID_POP_FIRST + 2, true, false}};
    EXPECT_EQ(Items(Submenu(menu, 2)), pop);
    const std::vector<Item> schema = {{"(default)", ID_SCHEMA_FIRST, false, false},
                                      {"-", 0, false, false},
                                      {"home", ID_SCHEMA_FIRST + 1, false, false},
                                      {"work", ID_SCHEMA_FIRST + 2, true, false}};
    EXPECT_EQ(Items(Submenu(menu, 4)), schema);
    const std::vector<Item> service = {{"&Start", ID_SERVICE_START, false, false},
                                       {"S&top", ID_SERVICE_STOP, false, true}};
    EXPECT_EQ(Items(Submenu(menu, 5)), service);
}

TEST_F(TrayMenuTest, EmptySettingsOnWindows95Family) {
    RelaySettings settings;
    TrayMenu menu(instance_, settings, {false, false, false, {}});
    ASSERT_NE(menu.popup(), nullptr);
    EXPECT_FALSE(ReadItem(menu.popup(), 3).checked) << "Enable follows the relay state";
    EXPECT_TRUE(ReadItem(menu.popup(), 5).grayed) << "no services on this system";

    // The greyed placeholder stays, checked while DefaultServer is 0.
    const std::vector<Item> smtp = {{"none", ID_SMTP_NONE, true, true}};
    EXPECT_EQ(Items(Submenu(menu, 1)), smtp);
    EXPECT_TRUE(Items(Submenu(menu, 2)).empty()) << "not even Cyclic change";
    const std::vector<Item> schema = {{"(default)", ID_SCHEMA_FIRST, true, false},
                                      {"-", 0, false, false}};
    EXPECT_EQ(Items(Submenu(menu, 4)), schema);
    const std::vector<Item> service = {{"&Start", ID_SERVICE_START, false, true},
                                       {"S&top", ID_SERVICE_STOP, false, true}};
    EXPECT_EQ(Items(Submenu(menu, 5)), service);

    settings.DefaultServer = 3;
    TrayMenu other(instance_, settings, {false, false, false, {}});
    EXPECT_FALSE(ReadItem(Submenu(other, 1), 0).checked);
}

TEST_F(TrayMenuTest, RunningServiceEnablesStopOnly) {
    RelaySettings settings;
    TrayMenu menu(instance_, settings, {false, true, true, {}});
    const std::vector<Item> service = {{"&Start", ID_SERVICE_START, false, true},
                                       {"S&top", ID_SERVICE_STOP, false, false}};
    EXPECT_EQ(Items(Submenu(menu, 5)), service);
    EXPECT_FALSE(ReadItem(menu.popup(), 5).grayed);
}

TEST_F(TrayMenuTest, CyclicChangeMarkFollowsPopCycleChangeAlone) {
    RelaySettings settings;
    settings.ServerList = {Entry(ServerType::Pop3, 110, "p.example.org")};
    settings.DefaultPOPServer = 0;  // no POP3 entry is the default
    settings.POPCycleChange = 0;
    TrayMenu menu(instance_, settings, {true, true, false, {}});
    const std::vector<Item> pop = {{"Cyclic change", ID_POP_CYCLIC, false, false},
                                   {"-", 0, false, false},
                                   {"p.example.org", ID_POP_FIRST + 1, false, false}};
    EXPECT_EQ(Items(Submenu(menu, 2)), pop);
}

TEST_F(TrayMenuTest, ItemsPastTheirCommandRangeAreGreyedAndNamesShowLiterally) {
    RelaySettings settings;
    for (int i = 0; i < 53; ++i) {
        settings.ServerList.push_back(Entry(ServerType::Smtp, 25, "s" + std::to_string(i)));
    }
    settings.ServerList[0].Name = "Mail & News";
    for (int i = 0; i < 51; ++i) {
        settings.Schemes.push_back("schema" + std::to_string(i));
    }
    TrayMenu menu(instance_, settings, {true, true, false, {}});
    const std::vector<Item> smtp = Items(Submenu(menu, 1));
    ASSERT_EQ(smtp.size(), 53u);
    EXPECT_EQ(smtp[0].text, "Mail && News");
    EXPECT_EQ(smtp[50], (Item{"s50", ID_SMTP_LAST, false, false}));
    EXPECT_EQ(smtp[51], (Item{"s51", ID_SMTP_LAST + 1, false, true}));
    // 1300 would be the default schema's command.
    EXPECT_EQ(smtp[52], (Item{"s52", ID_SMTP_LAST + 2, false, true}));
    const std::vector<Item> schema = Items(Submenu(menu, 4));
    ASSERT_EQ(schema.size(), 53u);
    EXPECT_EQ(schema[51], (Item{"schema49", ID_SCHEMA_LAST, false, false}));
    EXPECT_EQ(schema[52], (Item{"schema50", ID_SCHEMA_LAST + 1, false, true}));
}

TEST_F(TrayMenuTest, AccountsThatNeedASignInComeFirstAndTheDefaultItemStays) {
    RelaySettings settings;
    TrayMenu plain(instance_, settings, {true, true, false, {}});
    TrayMenu menu(instance_, settings, {true, true, false, {"a@example.org", "R&D@example.org"}});
    const std::vector<Item> before = Items(plain.popup());
    std::vector<Item> expected = {
        {"Sign in to a@example.org...", ID_SIGN_IN_FIRST, false, false},
        {"Sign in to R&&D@example.org...", ID_SIGN_IN_FIRST + 1, false, false},
        {"-", 0, false, false}};
    expected.insert(expected.end(), before.begin(), before.end());
    EXPECT_EQ(Items(menu.popup()), expected);
    EXPECT_EQ(GetMenuDefaultItem(menu.popup(), FALSE, 0), ID_TRAY_OPTIONS);
}

}  // namespace
}  // namespace vantel

#include "tray/TrayMenu.h"

#include <string>

#include "tray/resource.h"

namespace vantel {
namespace {

// Positions in the popup of menu 132.
constexpr int kSmtpPosition = 1;
constexpr int kPopPosition = 2;
constexpr int kSchemaPosition = 4;
constexpr int kServicePosition = 5;

/// A name as a menu shows it literally: a lone "&" would underline the next letter.
std::string MenuText(const std::string& name) {
    std::string text;
    for (char c : name) {
        text += c;
        if (c == '&') {
            text += '&';
        }
    }
    return text;
}

}  // namespace

TrayMenu::TrayMenu(HINSTANCE instance, const RelaySettings& settings, const TrayMenuState& state) {
    menu_ = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    popup_ = menu_ != nullptr ? GetSubMenu(menu_, 0) : nullptr;
    if (popup_ == nullptr) {
        return;
    }
    CheckMenuItem(popup_, ID_TRAY_ENABLE,
                  MF_BYCOMMAND | (state.relayEnabled ? MF_CHECKED : MF_UNCHECKED));

    // An entry belongs to the POP3 group first; only otherwise to the SMTP group.
    StringList smtpNames;
    StringList popNames;
    for (const ServerEntry& entry : settings.ServerList) {
        if (entry.Is(ServerType::Pop3) && entry.LocalPort == settings.DefaultPOPPort) {
            popNames.push_back(entry.Name);
        } else if (entry.Is(ServerType::Smtp) && entry.LocalPort == settings.DefaultPort) {
            smtpNames.push_back(entry.Name);
        }
    }

    FillServerSubmenu(GetSubMenu(popup_, kSmtpPosition), smtpNames, settings.DefaultServer,
                      ID_SMTP_FIRST, ID_SMTP_LAST, true);

    const UINT startState = state.isNT && !state.serviceRunning ? MF_ENABLED : MF_GRAYED;
    const UINT stopState = state.isNT && state.serviceRunning ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(popup_, ID_SERVICE_START, MF_BYCOMMAND | startState);
    EnableMenuItem(popup_, ID_SERVICE_STOP, MF_BYCOMMAND | stopState);
    EnableMenuItem(popup_, kServicePosition, MF_BYPOSITION | (state.isNT ? MF_ENABLED : MF_GRAYED));

    HMENU pop = GetSubMenu(popup_, kPopPosition);
    if (popNames.empty()) {
        DeleteMenu(pop, 1, MF_BYPOSITION);
        DeleteMenu(pop, 0, MF_BYPOSITION);
    } else {
        FillServerSubmenu(pop, popNames, settings.DefaultPOPServer, ID_POP_FIRST, ID_POP_LAST,
                          false);
        // "Cyclic change" sits where a current index of 0 would put a check: its mark
        // follows POPCycleChange alone.
        CheckMenuItem(pop, 0,
                      MF_BYPOSITION | (settings.POPCycleChange != 0 ? MF_CHECKED : MF_UNCHECKED));
    }

    FillServerSubmenu(GetSubMenu(popup_, kSchemaPosition), settings.Schemes, settings.DefaultSchema,
                      ID_SCHEMA_FIRST, ID_SCHEMA_LAST, false);

    SetMenuDefaultItem(popup_, 0, TRUE);

    // Last, so that the positions above count without them; the default item stays the same.
    if (!state.signInAccounts.empty()) {
        InsertMenuA(popup_, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        for (std::size_t i = state.signInAccounts.size(); i-- > 0;) {
            const UINT id = ID_SIGN_IN_FIRST + static_cast<UINT>(i);
            if (id > ID_SIGN_IN_LAST) {
                continue;
            }
            const std::string text = "Sign in to " + MenuText(state.signInAccounts[i]) + "...";
            InsertMenuA(popup_, 0, MF_BYPOSITION | MF_STRING, id, text.c_str());
        }
    }
}

TrayMenu::~TrayMenu() {
    if (menu_ != nullptr) {
        DestroyMenu(menu_);
    }
}

void TrayMenu::FillServerSubmenu(HMENU submenu, const StringList& names, int current, UINT firstId,
                                 UINT lastId, bool placeholder) {
    if (submenu == nullptr) {
        return;
    }
    if (!names.empty() && placeholder) {
        DeleteMenu(submenu, 0, MF_BYPOSITION);
    } else if (!placeholder) {
        ++firstId;
    }
    const int checked = placeholder ? current : current - 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const UINT id = firstId + static_cast<UINT>(i);
        UINT flags = MF_STRING;
        if (static_cast<int>(i) == checked) {
            flags |= MF_CHECKED;
        }
        if (id > lastId) {
            flags |= MF_GRAYED;
        }
        AppendMenuA(submenu, flags, id, MenuText(names[i]).c_str());
    }
    if (current == 0) {
        CheckMenuItem(submenu, 0, MF_BYPOSITION | MF_CHECKED);
    }
}

}  // namespace vantel

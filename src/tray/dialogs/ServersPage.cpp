#include "tray/dialogs/ServersPage.h"

#include <iterator>
#include <string>

#include "core/config/CredentialCodec.h"
#include "core/config/SettingsEdits.h"
#include "tray/ResourceStrings.h"
#include "tray/dialogs/ListViewRows.h"
#include "tray/dialogs/ServerSettingsDialog.h"
#include "tray/dialogs/TypeImages.h"
#include "tray/resource.h"

namespace vantel {
namespace {

struct Column {
    unsigned textId;
    int width;
};
constexpr Column kColumns[] = {
    {IDS_COLUMN_SERVER_NAME, 130}, {IDS_COLUMN_LOCAL_PORT, 70}, {IDS_COLUMN_REMOTE_PORT, 105}};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

/// The editor's values into `entry`, all but the login.
void TakeRoute(ServerEntry& entry, const ServerSettingsDialog& editor) {
    entry.Name = editor.serverName;
    entry.LocalPort = editor.localPort;
    entry.RemotePort = editor.remotePort;
    entry.Type = StoredServerType(editor.serverType);
    entry.Security = editor.security;
    entry.Fingerprint = editor.fingerprint;
    entry.SignIn = editor.signIn;
    entry.OAuth = editor.oauth;
}

/// The remote port as the list shows it: with the way the relay secures it, so that an
/// encrypted entry stands out ("995 (TLS)", "587 (STARTTLS)"; "(?)": a mode this program does
/// not know, which the relay refuses).
std::string RemotePortText(const ServerEntry& entry) {
    const std::string port = std::to_string(entry.RemotePort);
    if (entry.Uses(SecurityMode::None)) {
        return port;
    }
    if (entry.Uses(SecurityMode::SslTls)) {
        return port + " (TLS)";
    }
    if (entry.Uses(SecurityMode::StartTls)) {
        return port + " (STARTTLS)";
    }
    return port + " (?)";
}

/// A row's picture: its type's, or none for a number that names no type.
int RowImage(const ServerEntry& entry) {
    return IsKnownServerType(entry.Type) ? TypeImageIndex(ServerTypeFromStored(entry.Type))
                                         : kNoRowImage;
}

}  // namespace

ServersPage::ServersPage(const DialogContext& context, OptionsPageHost& host, RelaySettings& draft,
                         RelaySettings& live)
    : ListPage(context.instance, IDD_SERVERS_PAGE, host, *context.notifier, kServerListView),
      context_(context),
      servers_(draft.ServerList),
      draft_(draft),
      live_(live) {}

void ServersPage::WriteLive() {
    if (&live_ != &draft_) {
        live_.ServerList = draft_.ServerList;
    }
}

bool ServersPage::OnInitDialog() {
    for (int i = 0; i < kColumnCount; ++i) {
        AddListColumn(List(), i, LoadResourceString(kColumns[i].textId), kColumns[i].width);
    }
    // Without LVS_SHAREIMAGELISTS the list view destroys the image list with itself.
    SendMessageA(List(), LVM_SETIMAGELIST, LVSIL_SMALL,
                 reinterpret_cast<LPARAM>(CreateTypeImageList(instance())));
    LoadControls();
    return true;
}

void ServersPage::LoadControls() {
    ClearListRows(List());
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        // The ports are asked for when drawn, so they always show the live entry.
        InsertListRow(List(), static_cast<int>(i), servers_[i].Name, RowImage(servers_[i]),
                      kColumnCount);
    }
}

int ServersPage::FocusedItem() const {
    const int item = FocusedListRow(List());
    return (item >= 0 && static_cast<std::size_t>(item) < servers_.size()) ? item : -1;
}

std::string ServersPage::CellText(int row, int column) {
    if (row < 0 || static_cast<std::size_t>(row) >= servers_.size()) {
        return "N/A";
    }
    const ServerEntry& entry = servers_[static_cast<std::size_t>(row)];
    if (column == 1) {
        return std::to_string(entry.LocalPort);
    }
    if (column == 2) {
        return RemotePortText(entry);
    }
    return "N/A";
}

void ServersPage::Edit() {
    const int index = FocusedItem();
    if (index < 0) {
        return;
    }
    ServerEntry entry = servers_[static_cast<std::size_t>(index)];
    ServerSettingsDialog editor(context_);
    editor.serverName = entry.Name;
    editor.localPort = entry.LocalPort;
    editor.remotePort = entry.RemotePort;
    editor.serverType = ServerTypeFromStored(entry.Type);
    editor.security = entry.Security;
    editor.fingerprint = entry.Fingerprint;
    editor.signIn = entry.SignIn;
    editor.oauth = entry.OAuth;
    UnpackCredentials(entry.Credentials, entry.CredentialLength, editor.userName, editor.password);
    if (context_.runModal(editor, GetAncestor(window(), GA_ROOT)) != IDOK) {
        return;
    }
    // The editor ran its own loop: the list may have changed meanwhile, so look again.
    if (static_cast<std::size_t>(index) >= servers_.size()) {
        return;
    }
    TakeRoute(entry, editor);
    // Any type keeps a login typed for it, though only POP3 ones are stored.
    SettingsEdits::SetLogin(entry, servers_, editor.userName, editor.password, GetTickCount());
    SettingsEdits::ReplaceServer(servers_, static_cast<std::size_t>(index), entry);
    WriteLive();
    SetListRow(List(), index, entry.Name, RowImage(entry));
}

void ServersPage::Add() {
    ServerSettingsDialog editor(context_);
    if (context_.runModal(editor, GetAncestor(window(), GA_ROOT)) != IDOK) {
        return;
    }
    ServerEntry entry;
    TakeRoute(entry, editor);
    // As the editor showed them: the login fields apply to POP3 password entries only.
    if (entry.Is(ServerType::Pop3) && !entry.SignsInWithOAuth()) {
        SettingsEdits::SetLogin(entry, servers_, editor.userName, editor.password, GetTickCount());
    }
    const std::size_t n = SettingsEdits::AddServer(servers_, entry);
    WriteLive();
    InsertListRow(List(), static_cast<int>(n), entry.Name, RowImage(entry), kColumnCount);
}

void ServersPage::Delete() {
    const int index = FocusedItem();
    if (index < 0) {
        return;
    }
    if (!notifier().AskOkCancel(window(), LoadResourceString(IDS_CONFIRM_DELETE))) {
        return;
    }
    if (SettingsEdits::RemoveServer(servers_, static_cast<std::size_t>(index))) {
        WriteLive();
        DeleteListRow(List(), index);
    }
}

}  // namespace vantel

// The General Settings page: default ports, time-outs, the service switch, who may connect,
// and the log of relayed traffic.
#pragma once

#include <string>

#include "core/config/RelaySettings.h"
#include "platform/RollingLogFile.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/LinkLauncher.h"
#include "tray/dialogs/OptionsPage.h"

namespace vantel {

class GeneralSettingsPage : public OptionsPage {
  public:
    static constexpr int kSmtpPortEdit = 1023;
    static constexpr int kPopPortEdit = 1024;
    static constexpr int kImapPortEdit = 1025;
    static constexpr int kConnectTimeoutEdit = 1026;
    static constexpr int kMessageTimeoutEdit = 1027;
    static constexpr int kUseServiceCheck = 1028;
    static constexpr int kAcceptRemoteCheck = 1029;
    static constexpr int kLogTrafficCheck = 1033;
    static constexpr int kOpenLogButton = 1034;

    /// The page edits the default ports, time-outs, UseService, ListenAddress and LogTraffic
    /// of `draft`. "Open log" opens `log` with `launcher`.
    GeneralSettingsPage(const DialogContext& context, OptionsPageHost& host, RelaySettings& draft,
                        LinkLauncher& launcher, RollingLogFile& log);

    void LoadControls() override;
    bool ReadBack() override;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;

  private:
    /// The log in the user's editor; made empty first if nothing was logged yet, so that
    /// the editor has a file to open.
    void OpenLog();

    bool isNT_;
    RelaySettings& draft_;
    LinkLauncher& launcher_;
    RollingLogFile& log_;
};

}  // namespace vantel

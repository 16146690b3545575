// The General Settings page: default ports, time-outs, the service switch, who may connect,
// and the log of relayed traffic.
#pragma once

#include <string>

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

    /// "Open log" opens `log` with `launcher`.
    GeneralSettingsPage(const DialogContext& context, OptionsPageHost& host, LinkLauncher& launcher,
                        RollingLogFile& log);

    int DefaultPort = 0;
    int DefaultPOPPort = 0;
    int ConnectTimeout = 0;
    int MessageTimeout = 0;
    int UseService = 0;
    /// The listeners' address: empty (this computer only), "*", or one local address.
    std::string ListenAddress;
    /// Whether the relayed traffic goes into the log too.
    int LogTraffic = 0;

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
    LinkLauncher& launcher_;
    RollingLogFile& log_;
};

}  // namespace vantel

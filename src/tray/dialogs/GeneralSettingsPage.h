// The General Settings page: default ports, time-outs, the service switch and who may
// connect.
#pragma once

#include <string>

#include "tray/dialogs/DialogContext.h"
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

    GeneralSettingsPage(const DialogContext& context, OptionsPageHost& host);

    int DefaultPort = 0;
    int DefaultPOPPort = 0;
    int ConnectTimeout = 0;
    int MessageTimeout = 0;
    int UseService = 0;
    /// The listeners' address: empty (this computer only), "*", or one local address.
    std::string ListenAddress;

    void LoadControls() override;
    bool ReadBack() override;

  protected:
    bool OnInitDialog() override;

  private:
    bool isNT_;
};

}  // namespace vantel

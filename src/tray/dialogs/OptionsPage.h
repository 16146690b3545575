// A page of the Options dialog: a modeless child dialog whose plain fields the caller fills
// before the dialog runs and reads after OK.
#pragma once

#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogNotifier.h"
#include "tray/dialogs/OptionsPageHost.h"

namespace vantel {

class OptionsPage : public Dialog {
  public:
    OptionsPage(HINSTANCE instance, int templateId, OptionsPageHost& host, DialogNotifier& notifier)
        : Dialog(instance, templateId), host_(host), notifier_(notifier) {}

    /// Fields to controls.
    virtual void LoadControls() = 0;
    /// Controls to fields, in the page's order. At the first field that fails its check the
    /// user is told, and that field and the ones after it keep their values; false then.
    virtual bool ReadBack() = 0;

  protected:
    void OnOK() override { host_.OptionsPageHook(1); }
    void OnCancel() override { host_.OptionsPageHook(2); }
    DialogNotifier& notifier() { return notifier_; }

  private:
    OptionsPageHost& host_;
    DialogNotifier& notifier_;
};

}  // namespace vantel

// The Kludges page of the Options dialog: lists the kludges; a right click adds one, a double
// click edits, the Delete key removes. It works on copies that the caller takes back on OK.
#pragma once

#include "core/config/RelaySettings.h"
#include "dialogs/DialogContext.h"
#include "dialogs/OptionsPage.h"

namespace vantel {

class KludgesPage : public OptionsPage {
  public:
    static constexpr int kList = 1001;

    /// `liveSignalStr` is offered by the kludge editor; it is the live list, which the
    /// Special page keeps current while the Options dialog is open.
    KludgesPage(const DialogContext& context, OptionsPageHost& host,
                const StringList& liveSignalStr);

    StringList Subst;    ///< "%d %s": action, text; parallel to Kludges
    StringList Kludges;  ///< "%d %s": kludge type, header name

    void LoadControls() override;
    bool ReadBack() override { return true; }  // the lists are kept current while editing

  protected:
    bool OnInitDialog() override;
    LRESULT OnNotify(NMHDR& header, bool& handled) override;

  private:
    void Add();
    void Edit();
    void Delete();
    HWND List() const { return Item(kList); }

    DialogContext context_;
    const StringList& liveSignalStr_;
};

}  // namespace vantel

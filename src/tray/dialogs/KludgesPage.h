// The Kludges page of the Options dialog: lists the kludges; a right click adds one, a double
// click edits, the Delete key removes. It works on copies that the caller takes back on OK.
#pragma once

#include "core/config/RelaySettings.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/ListPage.h"

namespace vantel {

class KludgesPage : public ListPage {
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
    void Add() override;
    void Edit() override;
    void Delete() override;
    std::string CellText(int row, int column) override;

  private:
    DialogContext context_;
    const StringList& liveSignalStr_;
};

}  // namespace vantel

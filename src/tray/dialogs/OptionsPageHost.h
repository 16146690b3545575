// What a page of the Options dialog tells the dialog that holds it.
#pragma once

namespace vantel {

class OptionsPageHost {
  public:
    virtual ~OptionsPageHost() = default;
    /// A page's own OK (1, Enter inside the page) or Cancel (2, Escape) fired. The Options
    /// dialog does nothing with it: those keys close neither the page nor the dialog.
    virtual void OptionsPageHook(int code) = 0;
};

}  // namespace vantel

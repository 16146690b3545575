// The kludge lists read into the form header lines are matched against.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/rewrite/KludgeTypes.h"
#include "core/rewrite/SignalKludge.h"

namespace vantel {

/// Reading the lists costs more than applying them, so they are read once and read again
/// only when they change. The settings' editors write the records without telling anyone, so
/// the records themselves are compared with copies of what was last read.
class CompiledKludges {
  public:
    /// One kludge that can act on a line.
    struct Kludge {
        int type = 0;  ///< a KludgeType number
        std::string headerName;
        std::string_view envelopeCommand;  ///< the name's EnvelopeSynonym
        KludgeAction action = KludgeAction::JustDelete;
        /// ChangeToText: the ready replacement "  <text>\r\n"; TakeFromFile: the file's path.
        std::string text;
        SignalKludge special;  ///< SpecialKludge only
    };

    /// Reads the kludges of `settings` again if they or the special kludges differ from what
    /// was last read.
    void Refresh(const RelaySettings& settings);

    /// The kludges in list order; those that can never act (an unknown action, a signal
    /// string no usable special kludge has) are left out.
    const std::vector<Kludge>& kludges() const { return kludges_; }

  private:
    void Read(const RelaySettings& settings);

    std::vector<KludgeRecord> readKludges_;
    std::vector<SpecialKludgeRecord> readSpecialKludges_;
    std::vector<Kludge> kludges_;
};

}  // namespace vantel

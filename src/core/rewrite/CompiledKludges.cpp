#include "core/rewrite/CompiledKludges.h"

#include <optional>
#include <utility>

#include "core/rewrite/KludgeEntry.h"

namespace vantel {

void CompiledKludges::Refresh(const RelaySettings& settings) {
    if (settings.Kludges == readKludges_ && settings.Subst == readSubst_ &&
        settings.SignalStr == readSignalStr_ && settings.SpecialKludges == readSpecialKludges_) {
        return;
    }
    readKludges_ = settings.Kludges;
    readSubst_ = settings.Subst;
    readSignalStr_ = settings.SignalStr;
    readSpecialKludges_ = settings.SpecialKludges;
    Read(settings);
}

void CompiledKludges::Read(const RelaySettings& settings) {
    kludges_.clear();
    // The lists pair up to the shorter one.
    for (std::size_t i = 0; i < settings.Kludges.size() && i < settings.Subst.size(); ++i) {
        const KludgeEntry entry = ParseKludgeEntry(settings.Kludges[i]);
        const SubstEntry subst = ParseSubstEntry(settings.Subst[i]);
        Kludge kludge;
        kludge.type = entry.type;
        kludge.headerName = entry.headerName;
        kludge.envelopeCommand = EnvelopeSynonym(entry.headerName);
        kludge.action = static_cast<KludgeAction>(subst.action);
        switch (kludge.action) {
            case KludgeAction::ChangeToText:
                kludge.text = "  " + subst.text + "\r\n";
                break;
            case KludgeAction::JustDelete:
                break;
            case KludgeAction::TakeFromFile:
                kludge.text = subst.text;
                break;
            case KludgeAction::SpecialKludge: {
                // The text names the special kludge by its signal string, the first equal one.
                std::optional<SignalKludge> special =
                    ReadSignalKludge(settings, FindListIndex(settings.SignalStr, subst.text));
                if (!special) {
                    continue;
                }
                kludge.special = std::move(*special);
                break;
            }
            default:
                continue;  // no action, or one that does nothing
        }
        kludges_.push_back(std::move(kludge));
    }
}

}  // namespace vantel

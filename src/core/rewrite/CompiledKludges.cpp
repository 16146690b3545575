#include "core/rewrite/CompiledKludges.h"

#include <optional>
#include <utility>

#include "core/rewrite/KludgeEntry.h"

namespace vantel {

void CompiledKludges::Refresh(const RelaySettings& settings) {
    if (settings.Kludges == readKludges_ && settings.SpecialKludges == readSpecialKludges_) {
        return;
    }
    readKludges_ = settings.Kludges;
    readSpecialKludges_ = settings.SpecialKludges;
    Read(settings);
}

void CompiledKludges::Read(const RelaySettings& settings) {
    kludges_.clear();
    for (const KludgeRecord& record : settings.Kludges) {
        Kludge kludge;
        kludge.type = record.type;
        kludge.headerName = record.headerName;
        kludge.envelopeCommand = EnvelopeSynonym(record.headerName);
        kludge.action = static_cast<KludgeAction>(record.action);
        switch (kludge.action) {
            case KludgeAction::ChangeToText:
                kludge.text = "  " + record.text + "\r\n";
                break;
            case KludgeAction::JustDelete:
                break;
            case KludgeAction::TakeFromFile:
                kludge.text = record.text;
                break;
            case KludgeAction::SpecialKludge: {
                // The text names the special kludge by its signal string, the first equal one.
                std::optional<SignalKludge> special = ReadSignalKludge(
                    settings, FindSpecialKludge(settings.SpecialKludges, record.text));
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

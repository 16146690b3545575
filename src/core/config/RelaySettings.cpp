#include "core/config/RelaySettings.h"

namespace vantel {

std::string RelaySettings::GetSchemaName() const {
    if (DefaultSchema <= 0 || static_cast<std::size_t>(DefaultSchema) > Schemes.size()) {
        return {};
    }
    return Schemes[static_cast<std::size_t>(DefaultSchema) - 1];
}

}  // namespace vantel

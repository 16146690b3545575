// Texts of the program's string table.
#pragma once

#include <string>

namespace vantel {

/// String `id` of the running module's string table; empty when there is none.
std::string LoadResourceString(unsigned id);

}  // namespace vantel

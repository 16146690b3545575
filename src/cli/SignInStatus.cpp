#include "cli/SignInStatus.h"

namespace vantel {

std::string SignInStatus::Line(const ServerEntry& /*entry*/, std::size_t number) {
    return "not signed in yet: run vantel auth " + std::to_string(number);
}

}  // namespace vantel

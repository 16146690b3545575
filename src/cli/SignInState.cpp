#include "cli/SignInState.h"

namespace vantel {

std::string SignInState::Line(const ServerEntry& /*entry*/, std::size_t number) {
    return "not signed in yet: run vantel auth " + std::to_string(number);
}

}  // namespace vantel

// Where the programs built beside the tests are.
#pragma once

#include <string>

namespace vantel::test {

/// Windows path of `name` (vantel.exe, vantel.srv) in the build directory above the tests.
std::string BuiltProgram(const char* name);

}  // namespace vantel::test

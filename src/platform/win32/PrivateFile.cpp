#include "platform/PrivateFile.h"

namespace vantel {

void MakeFilePrivate(const std::filesystem::path&) {}

}  // namespace vantel

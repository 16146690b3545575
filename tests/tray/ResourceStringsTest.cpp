#include "tray/ResourceStrings.h"

#include <gtest/gtest.h>

#include "core/relay/RelayEngine.h"
#include "core/rewrite/KludgeEngine.h"
#include "tray/resource.h"

namespace vantel {
namespace {

// The core keeps its own copies of these notices (it has no resources); they must not drift
// from the program's string table.
TEST(ResourceStrings, CoreNoticesReadAsTheStringTable) {
    EXPECT_EQ(LoadResourceString(IDS_LISTEN_FAILED), RelayEngine::kListenFailedText);
    EXPECT_EQ(LoadResourceString(IDS_FILE_OPEN_ERROR), KludgeEngine::kFileOpenErrorText);
}

}  // namespace
}  // namespace vantel

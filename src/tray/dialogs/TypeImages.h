// The small images of the list views: one per server type (SMTP, POP3, IMAP4), which the
// Kludges page also uses for its two kludge types.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "core/config/ServerEntry.h"

namespace vantel {

/// A new image list of bitmaps 141, 142 and 143 (15x15, black transparent); the caller or
/// the list view it is given to owns it.
HIMAGELIST CreateTypeImageList(HINSTANCE instance);

/// The position of the image of `type` in that list.
int TypeImageIndex(ServerType type);

}  // namespace vantel

#include "tray/dialogs/TypeImages.h"

#include <initializer_list>

#include "tray/resource.h"

namespace vantel {

HIMAGELIST CreateTypeImageList(HINSTANCE instance) {
    HIMAGELIST images = ImageList_Create(15, 15, ILC_COLOR16 | ILC_MASK, 3, 1);
    if (images == nullptr) {
        return nullptr;
    }
    for (int id : {IDB_TYPE_SMTP, IDB_TYPE_POP3, IDB_TYPE_IMAP4}) {
        HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(id));
        if (bitmap != nullptr) {
            ImageList_AddMasked(images, bitmap, RGB(0, 0, 0));
            DeleteObject(bitmap);
        }
    }
    return images;
}

}  // namespace vantel

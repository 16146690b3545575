#include "tray/dialogs/TypeImages.h"

#include <iterator>

#include "tray/resource.h"

namespace vantel {
namespace {

struct TypeBitmap {
    ServerType type;
    int id;
};
// In the order of the list; the Kludges page relies on SMTP and POP3 coming first.
constexpr TypeBitmap kBitmaps[] = {{ServerType::Smtp, IDB_TYPE_SMTP},
                                   {ServerType::Pop3, IDB_TYPE_POP3},
                                   {ServerType::Imap4, IDB_TYPE_IMAP4}};

}  // namespace

HIMAGELIST CreateTypeImageList(HINSTANCE instance) {
    HIMAGELIST images =
        ImageList_Create(15, 15, ILC_COLOR16 | ILC_MASK, static_cast<int>(std::size(kBitmaps)), 1);
    if (images == nullptr) {
        return nullptr;
    }
    for (const TypeBitmap& entry : kBitmaps) {
        HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(entry.id));
        if (bitmap != nullptr) {
            ImageList_AddMasked(images, bitmap, RGB(0, 0, 0));
            DeleteObject(bitmap);
        }
    }
    return images;
}

int TypeImageIndex(ServerType type) {
    for (std::size_t i = 0; i < std::size(kBitmaps); ++i) {
        if (kBitmaps[i].type == type) {
            return static_cast<int>(i);
        }
    }
    return I_IMAGENONE;
}

}  // namespace vantel

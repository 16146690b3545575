// vantel.exe: the mail relay in the notification area.
#include <windows.h>

#include "tray/RelayApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    vantel::RelayApp app(instance);
    return app.Run();
}

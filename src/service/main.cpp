// vantel.srv: the companion service. The tray program installs, starts and stops it.
#include <cstdio>

#include "service/RelayService.h"

int main() {
    vantel::RelayService service;
    if (!service.Run()) {
        std::fputs(
            "vantel.srv runs as the Windows service VantelSrv; start it from the Vantel tray "
            "menu (Service, Start) or with \"sc start VantelSrv\".\n",
            stderr);
        return 1;
    }
    return 0;
}

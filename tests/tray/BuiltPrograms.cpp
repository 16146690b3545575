#include "tray/BuiltPrograms.h"

#include <windows.h>

namespace vantel::test {

std::string BuiltProgram(const char* name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    // build\windows\tests\vantel_tests.exe -> build\windows\ .
    for (int i = 0; i < 2; ++i) {
        directory.erase(directory.find_last_of('\\'));
    }
    return directory + "\\" + name;
}

}  // namespace vantel::test

#include "platform/AtomicFile.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

#include "platform/win32/WideText.h"

namespace vantel {

namespace {

std::string Describe(std::string_view what, const std::string& path, DWORD code) {
    return std::string(what) + " " + path + ": " + SystemErrorText(code);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

/// The file a save replaces: `path`, or where a symbolic link there leads, so that the link
/// stays a link. A link that leads nowhere, or cannot be followed, is replaced as before.
std::string SaveTarget(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    HANDLE file =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return path;
    }
    char final[MAX_PATH * 4];
    const DWORD length = ::GetFinalPathNameByHandleA(file, final, sizeof final,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (length == 0 || length >= sizeof final) {
        return path;
    }
    std::string target(final, length);
    // Without its "\\?\" the name reads better in messages, and works as well here.
    if (target.rfind("\\\\?\\", 0) == 0 && target.size() > 6 && target[5] == ':') {
        target.erase(0, 4);
    }
    return target;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error) {
    const std::string target = SaveTarget(path.string());
    const std::filesystem::path dir = std::filesystem::path(target).parent_path();
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            error = "cannot create directory " + dir.string() + ": " + ec.message();
            return false;
        }
    }

    // CREATE_NEW never reuses a name that is in use; another attempt picks a fresh one.
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD code = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 100 && code == ERROR_FILE_EXISTS; ++attempt) {
        temp = target + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" +
               std::to_string(::GetTickCount64()) + "-" + std::to_string(attempt);
        file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        code = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = Describe("cannot create a temporary file for", target, code);
        return false;
    }
    const auto abandon = [&](std::string_view what, DWORD err, bool open) {
        if (open) {
            ::CloseHandle(file);
        }
        ::DeleteFileA(temp.c_str());
        error = Describe(what, target, err);
        return false;
    };
    if (!WriteAll(file, bytes)) {
        return abandon("cannot write", ::GetLastError(), true);
    }
    if (!::FlushFileBuffers(file)) {
        return abandon("cannot flush", ::GetLastError(), true);
    }
    if (!::CloseHandle(file)) {
        return abandon("cannot write", ::GetLastError(), false);
    }
    if (!::MoveFileExA(temp.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return abandon("cannot replace", ::GetLastError(), false);
    }
    return true;
}

}  // namespace vantel

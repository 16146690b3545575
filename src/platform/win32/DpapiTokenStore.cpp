#include "platform/win32/DpapiTokenStore.h"

#include <windows.h>

#include <aclapi.h>
#include <dpapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>
#include <system_error>

#include "platform/win32/WideText.h"

namespace vantel {
namespace {

/// Mixed into every seal, so that a blob another program sealed with the machine's key is no
/// record of ours, and ours opens for no other program that does not know it.
constexpr char kEntropy[] = "Vantel OAuth 2.0 token record, version 1";

struct LocalDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalPtr = std::unique_ptr<T, LocalDeleter>;

DATA_BLOB Blob(std::string_view bytes) {
    return {static_cast<DWORD>(bytes.size()),
            reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

LocalPtr<void> CopyOf(PSID sid) {
    const DWORD length = GetLengthSid(sid);
    LocalPtr<void> copy(LocalAlloc(LMEM_FIXED, length));
    if (!copy || !CopySid(length, copy.get(), sid)) {
        return nullptr;
    }
    return copy;
}

/// Who owns `path`; null when that cannot be read.
LocalPtr<void> OwnerOf(const std::filesystem::path& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return nullptr;
    }
    const LocalPtr<void> held(descriptor);
    return owner != nullptr ? CopyOf(owner) : nullptr;
}

/// This process's user, as the access list names it.
LocalPtr<void> ProcessUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return nullptr;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    LocalPtr<void> buffer(size != 0 ? LocalAlloc(LMEM_FIXED, size) : nullptr);
    const bool known =
        buffer && GetTokenInformation(token, TokenUser, buffer.get(), size, &size) != FALSE;
    CloseHandle(token);
    if (!known) {
        return nullptr;
    }
    return CopyOf(static_cast<TOKEN_USER*>(buffer.get())->User.Sid);
}

/// Full access for SYSTEM and `user`, nobody else, nothing inherited from above; files made
/// inside take the same.
LocalPtr<void> PrivateDescriptor(PSID user) {
    wchar_t* text = nullptr;
    if (user == nullptr || !ConvertSidToStringSidW(user, &text)) {
        return nullptr;
    }
    const std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;") + text + L")";
    LocalFree(text);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return nullptr;
    }
    return LocalPtr<void>(descriptor);
}

bool IsSystem(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) != FALSE;
}

std::string Named(const std::filesystem::path& path) {
    return Narrow(path.wstring());
}

}  // namespace

DpapiTokenStore::DpapiTokenStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {}

std::filesystem::path DpapiTokenStore::DefaultDirectory() {
    PWSTR found = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &found)) &&
        found != nullptr) {
        path = std::filesystem::path(found) / L"Vantel" / L"tokens";
    }
    CoTaskMemFree(found);
    return path;
}

std::string DpapiTokenStore::AccessProblem(const std::filesystem::path& path) {
    const std::string file = Named(path);
    const std::string fix = "; remove it and sign in again";
    // The folder's owner is the user the sign-ins belong to; the service, running as SYSTEM,
    // opens them too, and saves renewed ones for that user.
    const LocalPtr<void> keeper = OwnerOf(path.parent_path());
    const LocalPtr<void> user = ProcessUser();
    if (!keeper || !user) {
        return "cannot read who owns " + Named(path.parent_path()) + ": " +
               SystemErrorText(GetLastError());
    }
    if (!IsSystem(user.get()) && !EqualSid(keeper.get(), user.get())) {
        return "the folder " + Named(path.parent_path()) + " belongs to another user" + fix;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           &owner, nullptr, &dacl, nullptr, &descriptor);
    if (rc != ERROR_SUCCESS) {
        return "cannot read who may open " + file + ": " + SystemErrorText(rc);
    }
    const LocalPtr<void> held(descriptor);
    if (owner == nullptr || (!EqualSid(owner, keeper.get()) && !IsSystem(owner))) {
        return file + " belongs to another user" + fix;
    }
    if (dacl == nullptr) {
        return file + " may be read by every user" + fix;
    }
    constexpr ACCESS_MASK kReading = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED |
                                     READ_CONTROL | WRITE_DAC | WRITE_OWNER;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            return "cannot read who may open " + file + ": " + SystemErrorText(GetLastError());
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
            continue;
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            return file + " has an access list this program cannot check" + fix;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const PSID who = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kReading) != 0 && !EqualSid(who, keeper.get()) &&
            !EqualSid(who, owner) && !IsSystem(who)) {
            return file + " may be read by other users" + fix;
        }
    }
    return {};
}

bool DpapiTokenStore::MakeDirectory(std::string& error) const {
    std::error_code ec;
    if (std::filesystem::is_directory(directory_, ec)) {
        return true;
    }
    std::filesystem::create_directories(directory_.parent_path(), ec);
    if (ec) {
        error = "cannot create the folder " + Named(directory_.parent_path()) + ": " + ec.message();
        return false;
    }
    const LocalPtr<void> user = ProcessUser();
    const LocalPtr<void> descriptor = PrivateDescriptor(user.get());
    if (!descriptor) {
        error = "cannot make an access list for " + Named(directory_) + ": " +
                SystemErrorText(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (!CreateDirectoryW(directory_.c_str(), &attributes) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        error = "cannot create the folder " + Named(directory_) + ": " +
                SystemErrorText(GetLastError());
        return false;
    }
    return true;
}

TokenStore::Loaded DpapiTokenStore::Load(std::string_view key) {
    Loaded loaded;
    loaded.problem = KeyProblem(key);
    if (!loaded.problem.empty()) {
        return loaded;
    }
    if (directory_.empty()) {
        return loaded;  // nowhere to keep records, so none is kept
    }
    const std::filesystem::path path = directory_ / std::string(key);
    const std::string file = Named(path);
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            loaded.problem = "cannot read " + file + ": " + SystemErrorText(code);
        }
        return loaded;
    }
    std::string sealed;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        loaded.problem = "cannot read " + file + ": " + SystemErrorText(GetLastError());
    } else if ((info.dwFileAttributes &
                (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        loaded.problem = file + " is not a regular file; remove it and sign in again";
    } else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > kMaxRecord) {
        loaded.problem = file + " is too large to be a token record; remove it and sign in again";
    } else {
        loaded.problem = AccessProblem(path);
    }
    if (loaded.problem.empty()) {
        sealed.resize(info.nFileSizeLow);
        DWORD read = 0;
        if (!ReadFile(handle, sealed.data(), static_cast<DWORD>(sealed.size()), &read, nullptr) ||
            read != sealed.size()) {
            loaded.problem = "cannot read " + file + ": " + SystemErrorText(GetLastError());
        }
    }
    CloseHandle(handle);
    if (!loaded.problem.empty()) {
        return loaded;
    }
    DATA_BLOB in = Blob(sealed);
    DATA_BLOB entropy = Blob({kEntropy, sizeof kEntropy - 1});
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out)) {
        loaded.problem = file +
                         " cannot be opened (it was sealed on another computer, or is damaged); "
                         "sign in again";
        return loaded;
    }
    loaded.record.emplace(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return loaded;
}

bool DpapiTokenStore::Save(std::string_view key, std::string_view record, std::string& error) {
    error = KeyProblem(key);
    if (!error.empty()) {
        return false;
    }
    if (directory_.empty()) {
        error = "no place for token records: Windows names no application data folder";
        return false;
    }
    if (!MakeDirectory(error)) {
        return false;
    }
    DATA_BLOB in = Blob(record);
    DATA_BLOB entropy = Blob({kEntropy, sizeof kEntropy - 1});
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"Vantel sign-in", &entropy, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE, &out)) {
        error = "cannot seal the tokens: " + SystemErrorText(GetLastError());
        return false;
    }
    const std::string sealed(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);

    // A new file with the private access list of its own, written whole and renamed into
    // place, so a reader meets the old record or the new one.
    const std::filesystem::path path = directory_ / std::string(key);
    const LocalPtr<void> keeper = OwnerOf(directory_);
    const LocalPtr<void> user = ProcessUser();
    if (!keeper || !user || (!IsSystem(user.get()) && !EqualSid(keeper.get(), user.get()))) {
        error = "the folder " + Named(directory_) +
                " belongs to another user; remove it and sign in again";
        return false;
    }
    const LocalPtr<void> descriptor = PrivateDescriptor(keeper.get());
    if (!descriptor) {
        error = "cannot make an access list for " + Named(path) + ": " +
                SystemErrorText(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    std::filesystem::path temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD code = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 100 && code == ERROR_FILE_EXISTS; ++attempt) {
        temp = path;
        temp += L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt);
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        code = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create a file in " + Named(directory_) + ": " + SystemErrorText(code);
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, sealed.data(), static_cast<DWORD>(sealed.size()), &written, nullptr) &&
        written == sealed.size() && FlushFileBuffers(file);
    code = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok && MoveFileExW(temp.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    if (ok) {
        code = GetLastError();
    }
    DeleteFileW(temp.c_str());
    error = "cannot write " + Named(path) + ": " + SystemErrorText(code);
    return false;
}

bool DpapiTokenStore::Remove(std::string_view key, std::string& error) {
    error = KeyProblem(key);
    if (!error.empty()) {
        return false;
    }
    const std::filesystem::path path = directory_ / std::string(key);
    if (!DeleteFileW(path.c_str())) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            error = "cannot delete " + Named(path) + ": " + SystemErrorText(code);
            return false;
        }
    }
    return true;
}

std::string DpapiTokenStore::Location() const {
    return Named(directory_);
}

std::uint64_t DpapiTokenStore::Generation(std::string_view key) {
    if (!ValidKey(key)) {
        return 0;
    }
    const std::filesystem::path path = directory_ / std::string(key);
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A missing record is a state of its own, different from every saved one.
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
    CloseHandle(handle);
    if (!known) {
        return 0;
    }
    // Every save renames a new file into place: a new file index, and a new write time.
    return GenerationOf({info.nFileIndexHigh, info.nFileIndexLow, info.dwVolumeSerialNumber,
                         info.nFileSizeLow, info.ftLastWriteTime.dwLowDateTime,
                         info.ftLastWriteTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime});
}

}  // namespace vantel

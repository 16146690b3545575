// The sealed token files of the Windows programs: what is kept, how it is sealed and who may
// open it, and what is refused.
#include "platform/win32/DpapiTokenStore.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"

namespace vantel {
namespace {

class DpapiTokenStoreTest : public testing::Test {
  protected:
    DpapiTokenStoreTest() : dirPath_(dir_.path() / "Vantel" / "tokens"), store_(dirPath_) {}

    std::string FileBytes(const std::string& key) const {
        std::ifstream in(dirPath_ / key, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    /// Replaces the file's access list with the one of `sddl`.
    void SetAccess(const std::string& key, const wchar_t* sddl) {
        const std::wstring path = (dirPath_ / key).wstring();
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL dacl = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        const DWORD rc =
            SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr);
        LocalFree(descriptor);
        ASSERT_EQ(rc, static_cast<DWORD>(ERROR_SUCCESS));
    }

    test::TempDir dir_;
    std::filesystem::path dirPath_;
    DpapiTokenStore store_;
};

TEST_F(DpapiTokenStoreTest, RecordsComeBackSealedPrivateAndReplacedWhole) {
    const std::string key = "microsoft-a@example.test";
    std::string error;
    EXPECT_FALSE(store_.Load(key).record.has_value());
    EXPECT_EQ(store_.Load(key).problem, "");
    EXPECT_EQ(store_.Generation(key), 1u) << "a missing record has a generation of its own";

    const std::string record = "{\"refresh_token\":\"secret-refresh-1\"}\n\0tail";
    ASSERT_TRUE(store_.Save(key, "first", error)) << error;
    const std::uint64_t first = store_.Generation(key);
    Sleep(20);
    ASSERT_TRUE(store_.Save(key, record, error)) << error;
    EXPECT_EQ(store_.Load(key).record, record);
    EXPECT_NE(store_.Generation(key), first);
    EXPECT_EQ(FileBytes(key).find("secret-refresh-1"), std::string::npos) << "sealed, not plain";
    EXPECT_EQ(DpapiTokenStore::AccessProblem(dirPath_ / key), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dirPath_), {}), 1)
        << "no temporary file is left";

    ASSERT_TRUE(store_.Remove(key, error)) << error;
    EXPECT_FALSE(store_.Load(key).record.has_value());
    EXPECT_TRUE(store_.Remove(key, error)) << "removing nothing is no failure";
    EXPECT_EQ(store_.Generation(key), 1u);
}

TEST_F(DpapiTokenStoreTest, FilesOthersMayOpenOrThatAreNoRecordAreRefused) {
    std::string error;
    ASSERT_TRUE(store_.Save("k", "kept", error)) << error;
    EXPECT_EQ(store_.Load("k").record, std::string("kept"));

    // Everyone may read: refused, whatever the seal holds.
    SetAccess("k", L"D:P(A;;FA;;;SY)(A;;FR;;;WD)");
    EXPECT_FALSE(store_.Load("k").record.has_value());
    EXPECT_NE(store_.Load("k").problem.find("may be read by other users"), std::string::npos)
        << store_.Load("k").problem;
    // Denying others, or granting SYSTEM, takes nothing away from the owner's privacy.
    SetAccess("k", L"D:P(D;;FA;;;WD)(A;;FA;;;SY)(A;;FA;;;OW)");
    EXPECT_EQ(DpapiTokenStore::AccessProblem(dirPath_ / "k"), "");

    // Bytes no seal of ours made: a copy from another computer, or damage.
    ASSERT_TRUE(store_.Save("k", "kept", error)) << error;
    { std::ofstream(dirPath_ / "k", std::ios::binary | std::ios::trunc) << "not sealed"; }
    EXPECT_NE(store_.Load("k").problem.find("cannot be opened"), std::string::npos);

    std::filesystem::create_directory(dirPath_ / "dir");
    EXPECT_NE(store_.Load("dir").problem, "");
    { std::ofstream(dirPath_ / "big", std::ios::binary) << std::string(300 * 1024, 'x'); }
    EXPECT_NE(store_.Load("big").problem.find("too large"), std::string::npos);

    for (const char* key : {"", "..", "..\\x", "a/b", "C:x", "A@example.test", "a b"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(store_.Save(key, "x", error));
        EXPECT_NE(store_.Load(key).problem, "");
        EXPECT_FALSE(store_.Remove(key, error));
        EXPECT_EQ(store_.Generation(key), 0u);
    }
}

}  // namespace
}  // namespace vantel

// The staging folder's operations on real folders under Wine: creation of the
// chain, the ownership and link checks, extraction errors and removal.
#include "archive/archive.h"
#include "archive/writer.h"
#include "install/staging.h"
#include "install/staging_win32.h"
#include "support/text.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace tde {
namespace {

std::wstring TempRoot() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"tde_staging_" + std::to_wstring(GetCurrentProcessId());
}

using test::Utf16;

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFile(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
}

class StagingOnDisk : public testing::Test {
  protected:
    void SetUp() override {
        root_ = TempRoot();
        outside_ = root_ + L"_outside";
        Win32StagingFiles cleaner;
        RemoveDirectoryTree(cleaner, false, Utf16(root_));
        RemoveDirectoryTree(cleaner, false, Utf16(outside_));
    }
    void TearDown() override {
        Win32StagingFiles cleaner;
        RemoveDirectoryTree(cleaner, false, Utf16(root_));
        RemoveDirectoryTree(cleaner, false, Utf16(outside_));
        CUiResources::ResetAll();
    }
    Win32StagingFiles files_;
    std::wstring root_, outside_;
};

TEST_F(StagingOnDisk, CreatesTheChainChecksItAndRemovesItAgain) {
    const std::wstring staging = root_ + L"\\ZNWDriver\\DovEzuvar\\";
    PrinterModel model;
    model.stagingSubfolders = {u"IA64", u"Driver64", u"Driver32", u"ARM64"};
    StagingCreation creation = CreateStagingFolders(files_, Utf16(staging), model);
    ASSERT_TRUE(creation.created) << std::string(creation.failedPath.begin(),
                                                 creation.failedPath.end());
    EXPECT_TRUE(Exists(staging + L"ARM64"));
    // Made by this process: trusted; the rest as it is.
    EXPECT_EQ(files_.CheckFolder(Utf16(root_ + L"\\ZNWDriver")), FolderTrust::Trusted);
    EXPECT_EQ(files_.CheckFolder(Utf16(root_ + L"\\nothing")), FolderTrust::Absent);
    WriteFile(staging + L"Driver32\\a.dll", "a");
    EXPECT_EQ(files_.CheckFolder(Utf16(staging + L"Driver32\\a.dll")), FolderTrust::NotAFolder);
    EXPECT_TRUE(files_.IsDirectory(Utf16(staging + L"ARM64")));  // empty: "." and ".." count
    EXPECT_FALSE(files_.IsDirectory(Utf16(staging + L"Driver32\\a.dll")));

    // Again over what exists: tolerated; then "." pieces and a relative path.
    EXPECT_TRUE(CreateStagingFolders(files_, Utf16(staging), model).created);
    std::string narrowRoot(root_.begin(), root_.end());
    EXPECT_EQ(CreateDirectoryPath(files_, narrowRoot + "\\.\\dot\\B\\"), 1);
    EXPECT_TRUE(Exists(root_ + L"\\dot\\B"));
    EXPECT_EQ(CreateDirectoryPath(files_, narrowRoot + "\\" + std::string(300, 'x')), -1);
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    SetCurrentDirectoryW(root_.c_str());
    EXPECT_EQ(CreateDirectoryPath(files_, "rel\\sub"), 1);
    SetCurrentDirectoryW(cwd);
    EXPECT_TRUE(Exists(root_ + L"\\rel\\sub"));

    EXPECT_TRUE(RemoveDirectoryTree(files_, false, Utf16(staging)));
    EXPECT_FALSE(Exists(staging));
    EXPECT_TRUE(Exists(root_ + L"\\ZNWDriver"));
    // Gone already: nothing found, the last removal fails quietly.
    EXPECT_FALSE(RemoveDirectoryTree(files_, false, Utf16(staging)));
}

TEST_F(StagingOnDisk, ALinkInTheTreeIsRemovedAsALinkWhereWineCanMakeOne) {
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(outside_.c_str(), nullptr));
    WriteFile(outside_ + L"\\kept.txt", "k");
    const std::wstring link = root_ + L"\\link";
    SetLastError(0);
    BOOL made = CreateSymbolicLinkW(link.c_str(), outside_.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    if (!made || !files_.IsLink(Utf16(link))) {
        // Wine 8: the call answers TRUE and makes nothing; junctions fail with 50.
        // The guard is then shown on the in-memory tree only (native tests).
        GTEST_SKIP() << "no link could be made here (CreateSymbolicLinkW " << made << ", error "
                     << GetLastError() << ")";
    }
    EXPECT_EQ(files_.CheckFolder(Utf16(link)), FolderTrust::Link);
    EXPECT_TRUE(RemoveDirectoryTree(files_, false, Utf16(root_)));
    EXPECT_TRUE(Exists(outside_ + L"\\kept.txt"));
}

TEST_F(StagingOnDisk, AFolderAnotherUserOwnsIsRefusedWhereWineKeepsTheOwner) {
    const std::wstring parent = root_ + L"\\ZNWDriver";
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid, &size));
    DWORD set = SetNamedSecurityInfoW(const_cast<wchar_t*>(parent.c_str()), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION, sid, nullptr, nullptr, nullptr);
    if (set != ERROR_SUCCESS || files_.CheckFolder(Utf16(parent)) == FolderTrust::Trusted) {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        char* text = nullptr;
        GetNamedSecurityInfoA(std::string(parent.begin(), parent.end()).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                              &descriptor);
        if (owner != nullptr) {
            ConvertSidToStringSidA(owner, &text);
        }
        std::string shown = text != nullptr ? text : "none";
        LocalFree(text);
        LocalFree(descriptor);
        GTEST_SKIP() << "the owner could not be handed to Users here (set " << set
                     << ", owner reads " << shown << ")";
    }
    EXPECT_EQ(files_.CheckFolder(Utf16(parent)), FolderTrust::ForeignOwner);
    PrinterModel model;
    StagingCreation creation =
        CreateStagingFolders(files_, Utf16(parent + L"\\DovEzuvar\\"), model);
    EXPECT_FALSE(creation.created);
    EXPECT_TRUE(creation.refused);
    EXPECT_EQ(creation.failedPath, Utf16(parent));
    EXPECT_FALSE(Exists(parent + L"\\DovEzuvar"));
}

// Wine does not keep a DACL given to CreateDirectoryW, so the descriptor is
// proven in memory: the SDDL the folders are made with reads back, through the
// reader CheckFolder uses, as the facts the portable judgment trusts.
TEST(StagingSecurity, TheCreationDescriptorReadsBackAsTrustedAndProtected) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring sddl(kStagingFolderSddl.begin(), kStagingFolderSddl.end());
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
    FolderFacts facts;
    facts.exists = facts.directory = true;
    ASSERT_TRUE(ReadFolderSecurity(descriptor, facts));
    LocalFree(descriptor);
    const FolderFacts expected = StagingFolderFacts();
    EXPECT_EQ(facts.owner, expected.owner);
    ASSERT_EQ(facts.dacl.size(), expected.dacl.size());
    for (size_t i = 0; i < facts.dacl.size(); ++i) {
        EXPECT_EQ(facts.dacl[i].who, expected.dacl[i].who);
        EXPECT_EQ(facts.dacl[i].mask, expected.dacl[i].mask);
    }
    EXPECT_EQ(JudgeFolder(facts), FolderTrust::Trusted);
    // Authenticated Users: Modify, as a folder below C:\ inherits it.
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:(A;OICI;FA;;;BA)(A;OICIID;0x1301bf;;;AU)", SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_TRUE(ReadFolderSecurity(descriptor, facts));
    LocalFree(descriptor);
    EXPECT_EQ(JudgeFolder(facts), FolderTrust::OthersMayWrite);
}

TEST_F(StagingOnDisk, ExtractionFailuresLeaveADefiniteError) {
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    std::vector<ArchiveWriterItem> items(2);
    items[0].name = "driver/pos/good.gpd";
    items[0].data = {'g', 'p', 'd'};
    items[1].name = "driver/pos/bad.dll";
    items[1].data = std::vector<uint8_t>(64, 'x');
    WrittenArchive archive;
    std::string error;
    ArchiveWriterOptions options;
    options.password = "kdw20190304";
    ASSERT_TRUE(WriteArchive(items, options, archive, error)) << error;
    archive.bytes[archive.items[1].dataOffset + 14] ^= 0x5A;  // damages the second item
    CUiResources::SetResourceSource(ResourceSource::ArchiveInModule);
    CUiResources::RegisterArchiveImage(
        archive.bytes.data(), static_cast<uint32_t>(archive.bytes.size()), kArchivePassword);
    const std::u16string folder = Utf16(root_ + L"\\");
    struct Case {
        const char16_t* item;
        std::u16string folder;
        bool extracted;
        DWORD error;
    };
    const Case cases[] = {
        {u"driver\\pos\\good.gpd", folder, true, 0},
        {u"driver\\pos\\missing.gpd", folder, false, ERROR_FILE_NOT_FOUND},
        {u"nobackslash", folder, false, ERROR_FILE_NOT_FOUND},
        {u"driver\\pos\\bad.dll", folder, false, ERROR_INVALID_DATA},
        {u"driver\\pos\\good.gpd", folder + u"absent\\", false, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.item, c.item + std::char_traits<char16_t>::length(c.item)));
        SetLastError(12345);
        std::u16string dependent;
        EXPECT_EQ(files_.ExtractArchiveItem(c.item, c.folder, dependent), c.extracted);
        if (!c.extracted) {
            EXPECT_EQ(files_.LastError(), c.error);
        }
    }
    EXPECT_TRUE(Exists(root_ + L"\\good.gpd"));
    WriteFile(root_ + L"\\abc", "abc");
    EXPECT_EQ(FileSha256(Utf16(root_ + L"\\abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace tde

// The staging folder's own operations on the in-memory file tree.
#include "install/memory_staging_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tde {
namespace {

TEST(CreateDirectoryPath, CreatesEachMissingFolderAlongThePath) {
    struct Case {
        std::string path;
        int32_t result;
        std::vector<std::u16string> created;  // new paths, normalised
    };
    const std::string longPath = "C:\\" + std::string(256, 'a');  // 259 bytes fit
    const Case cases[] = {
        {"C:\\A\\.\\B\\", 1, {u"c:\\a", u"c:\\a\\b"}},
        {"rel\\sub", 1, {u"c:\\users\\setup\\rel", u"c:\\users\\setup\\rel\\sub"}},
        {"\\\\server\\share", 1, {u"c:\\users\\setup\\server", u"c:\\users\\setup\\server\\share"}},
        {"C:\\\\A\\\\", 1, {u"c:\\a"}},
        {longPath,
         1,
         {MemoryStagingFiles::Normalise(std::u16string(longPath.begin(), longPath.end()))}},
        {longPath + "b", -1, {}},
        {longPath + std::string(4000, 'c'), -1, {}},
        {"C:\\Users\\setup\\file.txt\\under", -1, {}},  // a file stands in the way
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        MemoryStagingFiles files;
        files.AddFolder(u"C:\\Users");
        files.AddFolder(u"C:\\Users\\setup");
        files.AddFile(u"C:\\Users\\setup\\file.txt", "x");
        auto before = files.Paths();
        EXPECT_EQ(CreateDirectoryPath(files, c.path), c.result);
        std::vector<std::u16string> created;
        for (const std::u16string& path : files.Paths()) {
            if (std::find(before.begin(), before.end(), path) == before.end()) {
                created.push_back(path);
            }
        }
        EXPECT_EQ(created, c.created);
    }
    MemoryStagingFiles unreadable;
    unreadable.FailCall(FileOp::GetCurrentDirectoryA, 5);
    EXPECT_EQ(CreateDirectoryPath(unreadable, "C:\\A"), -1);
    EXPECT_EQ(unreadable.CallCount(FileOp::CreateDirectoryA), 0u);
    // Made by someone else between the test and the creation: that is success.
    MemoryStagingFiles raced;
    raced.FailCall(FileOp::CreateDirectoryA, kErrorAlreadyExists);
    EXPECT_EQ(CreateDirectoryPath(raced, "C:\\A"), 1);
}

TEST(JudgeFolder, TrustsOnlyAFolderNoOneButAdministratorsCanChange) {
    using P = Principal;
    using T = FolderTrust;
    const FolderFacts made = StagingFolderFacts();
    auto with = [&](auto change) {
        FolderFacts facts = made;
        change(facts);
        return facts;
    };
    const AccessEntry usersReadExecute{P::Other, true, 0x1200A9};
    const struct {
        const char* what;
        FolderFacts facts;
        FolderTrust trust;
    } cases[] = {
        {"the descriptor the steps create with", made, T::Trusted},
        {"nothing there", FolderFacts{}, T::Absent},
        {"security unreadable", with([](auto& f) { f.readable = false; }), T::Unknown},
        {"a junction", with([](auto& f) { f.link = true; }), T::Link},
        {"a file", with([](auto& f) { f.directory = false; }), T::NotAFolder},
        {"another user's", with([](auto& f) { f.owner = P::Other; }), T::ForeignOwner},
        {"CREATOR OWNER as owner", with([](auto& f) { f.owner = P::CreatorOwner; }),
         T::ForeignOwner},
        {"owned by SYSTEM", with([](auto& f) { f.owner = P::System; }), T::Trusted},
        {"under Program Files", with([&](auto& f) {
             f.owner = P::TrustedInstaller;
             f.dacl.push_back(usersReadExecute);
             f.dacl.push_back({P::CreatorOwner, true, 0x10000000});
         }),
         T::Trusted},
        {"a null DACL", with([](auto& f) { f.hasDacl = false; }), T::OthersMayWrite},
        {"inherited from C:\\ (Authenticated Users: Modify)", with([](auto& f) {
             f.dacl.push_back({P::Other, true, 0x1301BF});
         }),
         T::OthersMayWrite},
        {"Users may add a subfolder", with([](auto& f) {
             f.dacl.push_back({P::Other, true, 0x4});
         }),
         T::OthersMayWrite},
        {"Users may change the DACL", with([](auto& f) {
             f.dacl.push_back({P::Other, true, 0x40000});
         }),
         T::OthersMayWrite},
        {"Users get generic write on what is unpacked", with([](auto& f) {
             f.dacl.push_back({P::Other, true, 0x40000000});
         }),
         T::OthersMayWrite},
        {"Users denied everything", with([](auto& f) {
             f.dacl.push_back({P::Other, false, 0x1F01FF});
         }),
         T::Trusted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(JudgeFolder(c.facts), c.trust);
        EXPECT_EQ(FolderTrustReason(c.trust).empty(),
                  c.trust == T::Absent || c.trust == T::Trusted);
    }
}

TEST(RemoveDirectoryTree, RemovesLinksAsLinksAndNothingOutsideTheFolder) {
    MemoryStagingFiles files;
    const std::u16string staging = u"C:\\S\\DovEzuvar\\";
    files.AddFolder(u"C:\\S");
    files.AddFolder(u"C:\\S\\DovEzuvar");
    files.AddFolder(u"C:\\S\\DovEzuvar\\Driver32");
    files.AddFolder(u"C:\\S\\DovEzuvar\\ARM64");  // empty
    files.AddFile(u"C:\\S\\DovEzuvar\\Driver32\\a.dll", "a");
    files.AddFile(u"C:\\S\\DovEzuvar\\znw.cer", "c");
    files.AddLink(u"C:\\S\\DovEzuvar\\Driver32\\junction", u"C:\\Outside", true);
    files.AddLink(u"C:\\S\\DovEzuvar\\filelink", u"C:\\Outside\\kept.txt", false);
    files.AddFolder(u"C:\\Outside");
    files.AddFile(u"C:\\Outside\\kept.txt", "k");

    EXPECT_TRUE(RemoveDirectoryTree(files, false, staging));
    EXPECT_THAT(files.Paths(),
                testing::ElementsAre(u"c:\\outside", u"c:\\outside\\kept.txt", u"c:\\s"));

    // The folder itself a link: only the link goes.
    files.AddLink(u"C:\\S\\DovEzuvar", u"C:\\Outside", true);
    EXPECT_TRUE(RemoveDirectoryTree(files, false, staging));
    EXPECT_THAT(files.Paths(),
                testing::ElementsAre(u"c:\\outside", u"c:\\outside\\kept.txt", u"c:\\s"));
    // A folder already gone: nothing to delete, the final removal fails quietly.
    EXPECT_FALSE(RemoveDirectoryTree(files, false, staging));
}

TEST(RemoveDirectoryTree, KeepFolderDeletesOnlyTheFilesAndAFailureIsReported) {
    MemoryStagingFiles files;
    files.AddFolder(u"C:\\K");
    files.AddFolder(u"C:\\K\\sub");
    files.AddFile(u"C:\\K\\sub\\x", "x");
    files.AddFile(u"C:\\K\\a", "a");
    files.AddFile(u"C:\\K\\b", "b");
    files.FailCall(FileOp::DeleteFileW, 5, 1);
    EXPECT_FALSE(RemoveDirectoryTree(files, true, u"C:\\K"));
    EXPECT_THAT(files.Paths(),
                testing::ElementsAre(u"c:\\k", u"c:\\k\\a", u"c:\\k\\sub", u"c:\\k\\sub\\x"));
}

}  // namespace
}  // namespace tde

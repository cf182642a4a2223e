// The host's folders: directory 29 stays private to the user, the analytics log follows it.
#include "standalone_host/platform/host_environment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Points TMPDIR at a folder of the test and restores everything afterwards.
class TempRootTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tmp = std::getenv("TMPDIR")) savedTmp_ = tmp;
        ::setenv("TMPDIR", root_.path().c_str(), 1);
        ::unsetenv("KORVO_ANALYTICS_LOG");
        KorvoHost::SetTempDirectory({});
    }
    void TearDown() override {
        if (savedTmp_.empty()) {
            ::unsetenv("TMPDIR");
        } else {
            ::setenv("TMPDIR", savedTmp_.c_str(), 1);
        }
        ::unsetenv("KORVO_ANALYTICS_LOG");
        KorvoHost::SetTempDirectory({});
    }

    fs::path Preferred() const { return root_.path() / ("korvo-" + std::to_string(::geteuid())); }

    KorvoTest::TempDir root_;
    std::string savedTmp_;
};

mode_t Mode(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST_F(TempRootTest, DefaultIsAPrivateFolderMadeOnDemand) {
    const fs::path temp = KorvoHost::TempDirectory();
    EXPECT_EQ(temp, Preferred());
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_EQ(Mode(temp), 0700u);

    fs::remove(temp);
    EXPECT_EQ(KorvoHost::TempDirectory(), Preferred());
    EXPECT_TRUE(fs::is_directory(temp)) << "made again after someone removed it";
}

TEST_F(TempRootTest, ForeignOrOpenFoldersAreNotUsed) {
    // A link planted under the expected name must not redirect the host's files.
    KorvoTest::TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.path(), Preferred());
    const fs::path temp = KorvoHost::TempDirectory();
    EXPECT_NE(temp, Preferred());
    EXPECT_EQ(temp.parent_path(), root_.path());
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_EQ(Mode(temp), 0700u);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));

    fs::remove(Preferred());
    KorvoHost::SetTempDirectory({});
    fs::create_directory(Preferred());
    ::chmod(Preferred().c_str(), 0777);
    EXPECT_NE(KorvoHost::TempDirectory(), Preferred()) << "open to others";
}

TEST_F(TempRootTest, ChosenFolderIsCreated) {
    const fs::path chosen = root_.path() / "a" / "b";
    KorvoHost::SetTempDirectory(chosen);
    EXPECT_EQ(KorvoHost::TempDirectory(), chosen);
    EXPECT_TRUE(fs::is_directory(chosen));
    EXPECT_EQ(Mode(chosen), 0700u);
}

TEST_F(TempRootTest, AnalyticsLogFollowsTheVariableOrTheTempFolder) {
    EXPECT_EQ(KorvoHost::AnalyticsLogPath(), Preferred() / "analytics.jsonl");
    KorvoHost::PublishAnalyticsLogPath();
    EXPECT_EQ(std::string(std::getenv("KORVO_ANALYTICS_LOG")),
              (Preferred() / "analytics.jsonl").string());

    ::setenv("KORVO_ANALYTICS_LOG", "/elsewhere/hits.jsonl", 1);
    KorvoHost::PublishAnalyticsLogPath();
    EXPECT_EQ(KorvoHost::AnalyticsLogPath(), "/elsewhere/hits.jsonl") << "kept when already set";
}

TEST(RegistryFilePath, DefaultLiesBesideTheProgram) {
    EXPECT_EQ(KorvoHost::RegistryFilePath(), (KorvoHost::ProgramPath().parent_path().parent_path() /
                                              "etc" / "korvo" / "registry.json"));
}

}  // namespace

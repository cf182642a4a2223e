#include "support/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "standalone_host/platform/host_environment.h"
#include "support/fresh_process.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Korvo::GetSetting;
using Korvo::SettingKey;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { previous_ = KorvoHost::RegistryFilePath(); }
    void TearDown() override { KorvoHost::SetRegistryFilePath(previous_); }

    // Loads the settings from a registry whose Korvo key holds the given values (null: no key).
    void LoadFrom(const nlohmann::json& values) {
        nlohmann::json registry = {{"HKEY_LOCAL_MACHINE", nlohmann::json::object()}};
        if (!values.is_null()) registry["HKEY_LOCAL_MACHINE"]["Software\\Korvo\\3dsMax"] = values;
        const fs::path file = dir_.path() / "registry.json";
        std::ofstream(file) << registry.dump();
        KorvoHost::SetRegistryFilePath(file);
        Korvo::LoadSettings();
    }

    KorvoTest::TempDir dir_;
    fs::path previous_;
};

TEST_F(SettingsTest, BothValuesCidFirstAndNeverMoreThanTwo) {
    for (int i = 0; i < 3; ++i) LoadFrom({{"version", "2.4.1"}, {"cid", "c-42"}});
    EXPECT_EQ(GetSetting(SettingKey::Version), L"2.4.1");
    EXPECT_EQ(GetSetting(SettingKey::Cid), L"c-42");
    const auto& entries = Korvo::SettingsEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, SettingKey::Cid);
    EXPECT_EQ(entries[1].key, SettingKey::Version);
    EXPECT_EQ(GetSetting(static_cast<SettingKey>(3)), L"");
}

TEST_F(SettingsTest, MissingKeyEmptiesTheStore) {
    LoadFrom({{"version", "1"}, {"cid", "c"}});
    LoadFrom(nullptr);
    EXPECT_TRUE(Korvo::SettingsEntries().empty());
    EXPECT_EQ(GetSetting(SettingKey::Version), L"");
    KorvoHost::SetRegistryFilePath(dir_.path() / "absent.json");
    Korvo::LoadSettings();
    EXPECT_TRUE(Korvo::SettingsEntries().empty());
}

TEST_F(SettingsTest, ValuesNeverReadPastTheirBuffer) {
    const std::string full(255, 'v'), tooLong(256, 'v');
    LoadFrom({{"version", full}, {"cid", full}});
    EXPECT_EQ(GetSetting(SettingKey::Version), std::wstring(255, L'v')) << "255 characters in full";
    EXPECT_EQ(GetSetting(SettingKey::Cid), std::wstring(255, L'v'));

    // With its terminator the value does not fit: rather no text than a cut or unended one.
    LoadFrom({{"version", tooLong}, {"cid", "c"}});
    EXPECT_EQ(GetSetting(SettingKey::Version), L"");
    EXPECT_EQ(GetSetting(SettingKey::Cid), L"c");

    // Stored without a terminator: the text ends where the data ends.
    LoadFrom({{"version", {{"type", "REG_SZ"}, {"data", tooLong}, {"terminated", false}}},
              {"cid", {{"type", "REG_SZ"}, {"data", "abc"}, {"terminated", false}}}});
    EXPECT_EQ(GetSetting(SettingKey::Version), std::wstring(256, L'v'));
    EXPECT_EQ(GetSetting(SettingKey::Cid), L"abc");

    // Not a string, or missing: empty text, and still one entry each.
    LoadFrom({{"version", 7}});
    EXPECT_EQ(GetSetting(SettingKey::Version), L"");
    EXPECT_EQ(GetSetting(SettingKey::Cid), L"");
    EXPECT_EQ(Korvo::SettingsEntries().size(), 2u);
}

TEST(Settings, EmptyBeforeTheFirstLoad) {
    KorvoTest::InFreshProcess([] {
        EXPECT_TRUE(Korvo::SettingsEntries().empty());
        EXPECT_EQ(GetSetting(SettingKey::Version), L"");
        EXPECT_EQ(GetSetting(SettingKey::Cid), L"");
    });
}

}  // namespace

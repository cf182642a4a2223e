#include "support/analytics.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/win32_platform.h"
#include "standalone_host/platform/utf8.h"
#include "support/fresh_process.h"
#include "support/module_handle.h"
#include "support/settings.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Korvo::AnalyticsEvent;
using Korvo::SendAnalyticsHit;

// A plug-in folder: a module standing in for the plug-in file (loaded and made the plug-in's
// instance), with or without the analytics module beside it, and the analytics log.
class PluginFolder {
  public:
    explicit PluginFolder(bool withAnalytics) {
        fs::copy_file(KORVO_PLUGIN_FOLDER_MODULE, dir_.path() / "KorvoPlugin.so");
        if (withAnalytics) AddAnalytics();
        ::setenv("KORVO_ANALYTICS_LOG", Hits().c_str(), 1);
        module_ = LoadLibraryW(KorvoHost::FromPath(dir_.path() / "KorvoPlugin.so").c_str());
        EXPECT_NE(module_, nullptr);
        Korvo::SetPluginInstance(module_);
    }
    ~PluginFolder() {
        Korvo::SetPluginInstance(nullptr);
        FreeLibrary(module_);
        ::unsetenv("KORVO_ANALYTICS_LOG");
    }
    void AddAnalytics() const {
        fs::copy_file(KORVO_ANALYTICS_MODULE, dir_.path() / "Analytics.so");
    }
    void RemoveAnalytics() const { fs::remove(dir_.path() / "Analytics.so"); }
    fs::path Hits() const { return dir_.path() / "hits.jsonl"; }

    std::vector<nlohmann::json> ReadHits() const {
        std::vector<nlohmann::json> hits;
        std::ifstream in(Hits());
        for (std::string line; std::getline(in, line);) hits.push_back(nlohmann::json::parse(line));
        return hits;
    }

  private:
    KorvoTest::TempDir dir_;
    HMODULE module_ = nullptr;
};

TEST(Analytics, HitsReachTheModuleWithTheirFiveValues) {
    KorvoTest::InFreshProcess([] {
        const PluginFolder folder(true);
        // Nothing loaded the settings: the identifier is empty text, not null.
        EXPECT_TRUE(SendAnalyticsHit(1, AnalyticsEvent::RunStarted,
                                     Korvo::GetSetting(Korvo::SettingKey::Cid), L"2", false));
        EXPECT_TRUE(SendAnalyticsHit(1, AnalyticsEvent::Cancelled, L"c-\u00e9", nullptr, true));
        const auto hits = folder.ReadHits();
        ASSERT_EQ(hits.size(), 2u);
        EXPECT_EQ(hits[0], nlohmann::json::parse(
                               R"({"category":1,"event":7,"id":"","detail":"2","flag":false})"));
        EXPECT_EQ(hits[1],
                  nlohmann::json::parse(
                      R"({"category":1,"event":1,"id":"c-\u00e9","detail":null,"flag":true})"));
    });
}

TEST(Analytics, LoadIsAttemptedOnce) {
    KorvoTest::InFreshProcess([] {
        const PluginFolder present(true);
        EXPECT_TRUE(SendAnalyticsHit(1, AnalyticsEvent::ErrorShown, L"", L"6", false));
        present.RemoveAnalytics();
        EXPECT_TRUE(SendAnalyticsHit(1, AnalyticsEvent::RunCompleted, L"", nullptr, false))
            << "the module stays loaded";
        EXPECT_EQ(present.ReadHits().size(), 2u);
    });
    KorvoTest::InFreshProcess([] {
        const PluginFolder missing(false);
        EXPECT_FALSE(
            SendAnalyticsHit(1, AnalyticsEvent::GenerateAccepted, L"", L"Default Scanline", false));
        missing.AddAnalytics();
        EXPECT_FALSE(SendAnalyticsHit(1, AnalyticsEvent::Cancelled, L"", nullptr, false))
            << "a failed load is not retried";
        EXPECT_FALSE(fs::exists(missing.Hits()));
    });
}

TEST(Analytics, NoPluginInstanceMeansNoAnalytics) {
    KorvoTest::InFreshProcess(
        [] { EXPECT_FALSE(SendAnalyticsHit(1, AnalyticsEvent::Cancelled, L"", nullptr, false)); });
}

// The stand-in module on its own, as any host would call it.
TEST(AnalyticsModule, DropsHitsWithoutAWritableLog) {
    using SendHitFn = bool (*)(int, int, const wchar_t*, const wchar_t*, bool);
    void* module = ::dlopen(KORVO_ANALYTICS_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << ::dlerror();
    auto sendHit = reinterpret_cast<SendHitFn>(::dlsym(module, "SendHit"));
    ASSERT_NE(sendHit, nullptr);

    ::unsetenv("KORVO_ANALYTICS_LOG");
    EXPECT_FALSE(sendHit(1, 0, L"", nullptr, false));
    KorvoTest::TempDir dir;
    ::setenv("KORVO_ANALYTICS_LOG", (dir.path() / "missing" / "hits.jsonl").c_str(), 1);
    EXPECT_FALSE(sendHit(1, 0, L"", nullptr, false));
    ::setenv("KORVO_ANALYTICS_LOG", (dir.path() / "hits.jsonl").c_str(), 1);
    EXPECT_TRUE(sendHit(1, 3, nullptr, L"\"quoted\"\n", false));
    std::ifstream in(dir.path() / "hits.jsonl");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(nlohmann::json::parse(line)["detail"], "\"quoted\"\n");
    EXPECT_TRUE(nlohmann::json::parse(line)["id"].is_null());
    ::unsetenv("KORVO_ANALYTICS_LOG");
    ::dlclose(module);
}

}  // namespace

// The plug-in as the host sees it: loaded from its file, asked through its exports and class
// descriptors, its utility opened in the command panel.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "host/interface.h"
#include "host/plugin.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/windows/user_actions.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoHost::HostApp;
using KorvoHost::HostOptions;

constexpr Class_ID kUtilityClass{0x505201BD, 0x5A582925};
constexpr Class_ID kStereoClass{0x26B1639B, 0x662A38C8};
// The utility panel and its controls.
constexpr int kPanel = 101, kGenerate = 1001, kVersionLabel = 1031;

// Writes a registry file holding the plug-in's key with the given values (none: no key at all).
fs::path WriteRegistry(const fs::path& folder, const char* version, const char* cid = "abc-123") {
    const fs::path file = folder / "registry.json";
    std::ofstream out(file);
    if (!version) {
        out << "{}";
    } else {
        out << R"({"HKEY_LOCAL_MACHINE": {"Software\\Korvo\\3dsMax": {"version": ")" << version
            << R"(", "cid": ")" << cid << R"("}}})";
    }
    return file;
}

// Every test loads its own copy of the library, so the process-wide objects inside it (the
// utility object, the settings it read) start fresh as they do when the host starts.
class PluginEntry : public ::testing::Test {
  protected:
    void Start(const char* version = "1.2.3") {
        const fs::path copy = temp_.path() / "plugins" / "KorvoPlugin.so";
        fs::create_directories(copy.parent_path());
        fs::copy_file(KORVO_PLUGIN_FILE, copy);
        HostOptions options;
        options.pluginFile = copy;
        options.registryFile = WriteRegistry(temp_.path(), version);
        options.tempDirectory = temp_.path() / "host";
        app_ = std::make_unique<HostApp>(options);
        std::string error;
        ASSERT_TRUE(app_->LoadPlugin(&error)) << error;
        module_ = app_->Plugin()->Module();
    }

    template <typename Fn>
    Fn Export(const char* name) {
        auto fn = reinterpret_cast<Fn>(GetProcAddress(module_, name));
        EXPECT_NE(fn, nullptr) << name;
        return fn;
    }

    std::wstring PanelLabel(HWND page) {
        return KorvoHost::WindowText(KorvoHost::FindControl(page, kVersionLabel));
    }

    KorvoTest::TempDir temp_;
    std::unique_ptr<HostApp> app_;
    HMODULE module_ = nullptr;
};

TEST_F(PluginEntry, LibraryExportsAnswerTheHost) {
    Start();
    EXPECT_STREQ(Export<LibDescriptionFn>("LibDescription")(), L"Korvo for 3DS Max BETA");
    EXPECT_EQ(Export<LibNumberClassesFn>("LibNumberClasses")(), 2);
    EXPECT_EQ(Export<LibVersionFn>("LibVersion")(), 0x4E203200u);
    EXPECT_EQ(Export<LibInitializeFn>("LibInitialize")(), TRUE);
    EXPECT_EQ(Export<LibShutdownFn>("LibShutdown")(), TRUE);
    EXPECT_EQ(Export<CanAutoDeferFn>("CanAutoDefer")(), 0u);

    const auto classDesc = Export<LibClassDescFn>("LibClassDesc");
    ClassDesc* utility = classDesc(0);
    ASSERT_NE(utility, nullptr);
    EXPECT_EQ(classDesc(0), utility) << "repeated calls hand out the same descriptor";
    EXPECT_EQ(classDesc(2), nullptr);
    EXPECT_EQ(classDesc(-1), nullptr);

    ClassDesc* stereo = classDesc(1);
    ASSERT_NE(stereo, nullptr);
    EXPECT_EQ(stereo->SuperClassID(), TEXMAP_CLASS_ID);
    EXPECT_EQ(stereo->ClassID(), kStereoClass);
    EXPECT_STREQ(stereo->InternalName(), L"KorvoStereo");
}

TEST_F(PluginEntry, UtilityDescriptorAnswers) {
    Start();
    ClassDesc* desc = Export<LibClassDescFn>("LibClassDesc")(0);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->IsPublic(), 1);
    EXPECT_STREQ(desc->ClassName(), L"Korvo for 3DS Max BETA");
    EXPECT_EQ(desc->SuperClassID(), 0x1020u);
    EXPECT_EQ(desc->ClassID(), kUtilityClass);
    EXPECT_STREQ(desc->Category(), L"Korvo");
    EXPECT_STREQ(desc->InternalName(), L"KorvoPlugin");
    EXPECT_EQ(desc->HInstance(), module_);
    EXPECT_EQ(desc->InitialRollupPageState(), 0x7FFFFFFFu);
}

TEST_F(PluginEntry, OneUtilityObjectThatTheHostCannotDelete) {
    Start();
    ClassDesc* desc = Export<LibClassDescFn>("LibClassDesc")(0);
    auto* first = static_cast<UtilityObj*>(desc->Create(FALSE));
    ASSERT_NE(first, nullptr);
    first->DeleteThis();
    auto* second = static_cast<UtilityObj*>(desc->Create(FALSE));
    EXPECT_EQ(second, first);
    // Still alive: opening it works.
    std::string error;
    EXPECT_NE(app_->OpenUtility(L"KorvoPlugin", &error), nullptr) << error;
}

TEST_F(PluginEntry, ConcurrentFirstCallsMakeOneObject) {
    Start();
    const auto classDesc = Export<LibClassDescFn>("LibClassDesc");
    constexpr int kThreads = 8;
    std::vector<void*> objects(kThreads);
    std::vector<ClassDesc*> descs(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            descs[i] = classDesc(0);
            objects[i] = descs[i]->Create(FALSE);
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    for (int i = 1; i < kThreads; ++i) {
        EXPECT_EQ(descs[i], descs[0]);
        EXPECT_EQ(objects[i], objects[0]);
    }
}

TEST_F(PluginEntry, PanelShowsTheRegistryVersion) {
    Start("1.2.3");
    std::string error;
    const HWND page = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_NE(page, nullptr) << error;
    EXPECT_EQ(PanelLabel(page), L"Version: 1.2.3");
    ASSERT_EQ(app_->Core().RollupPages().size(), 1u);
    EXPECT_EQ(app_->Core().RollupPages()[0].title, L"Korvo for 3DS Max BETA");
    EXPECT_EQ(app_->Core().RollupPages()[0].category, 4000);
    EXPECT_EQ(KorvoHost::DialogId(page), kPanel);
    EXPECT_EQ(KorvoHost::WindowText(KorvoHost::FindControl(page, kGenerate)), L"Generate");
}

TEST_F(PluginEntry, PanelWithoutVersionReadsVersionColon) {
    Start(nullptr);
    std::string error;
    const HWND page = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_NE(page, nullptr) << error;
    EXPECT_EQ(PanelLabel(page), L"Version: ");
}

TEST_F(PluginEntry, LongVersionIsCutToTheLabelBuffer) {
    const std::string version(255, 'v');
    Start(version.c_str());
    std::string error;
    const HWND page = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_NE(page, nullptr) << error;
    EXPECT_EQ(PanelLabel(page), L"Version: " + std::wstring(250, L'v'));
}

TEST_F(PluginEntry, ClosingAndReopeningReplacesThePage) {
    Start();
    std::string error;
    const HWND first = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_NE(first, nullptr) << error;
    app_->CloseUtility();
    EXPECT_TRUE(app_->Core().RollupPages().empty());
    EXPECT_FALSE(IsWindow(first));
    const HWND second = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_NE(second, nullptr) << error;
    EXPECT_EQ(app_->Core().RollupPages().size(), 1u);
    EXPECT_EQ(PanelLabel(second), L"Version: 1.2.3");
}

TEST_F(PluginEntry, PanelPassesMouseMessagesToTheHost) {
    Start();
    std::string error;
    const HWND page = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_NE(page, nullptr) << error;
    for (UINT message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP})
        EXPECT_EQ(SendMessageW(page, message, 0, 0), TRUE);
    EXPECT_EQ(app_->Core().RollupMouseMessages(), 3);
    EXPECT_EQ(SendMessageW(page, WM_USER + 7, 0, 0), FALSE) << "other messages are not handled";
}

}  // namespace

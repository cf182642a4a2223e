// Module loading: one record per file with a reference count, DllMain at the first load and the
// last free, names and symbols.
#include "standalone_host/platform/modules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "host/win32_platform.h"
#include "standalone_host/platform/host_environment.h"
#include "standalone_host/platform/utf8.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoHost::FromUtf8;

class ModulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        trace_ = dir_.path() / "trace.txt";
        ::setenv("KORVO_TEST_MODULE_TRACE", trace_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVO_TEST_MODULE_TRACE"); }

    std::string Trace() const { return KorvoTest::ReadFile(trace_); }

    KorvoTest::TempDir dir_;
    fs::path trace_;
};

TEST_F(ModulesTest, SameFileSameHandleAndDllMainOncePerLife) {
    const std::wstring file = FromUtf8(KORVO_TEST_MODULE);
    HMODULE first = LoadLibraryW(file.c_str());
    ASSERT_NE(first, nullptr) << KorvoHost::LastLoadError();
    HMODULE second = LoadLibraryW(file.c_str());
    EXPECT_EQ(first, second);
    EXPECT_EQ(Trace(), "attach\n");

    using AnswerFn = int (*)();
    auto answer = reinterpret_cast<AnswerFn>(GetProcAddress(first, "TestModuleAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(first, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(Trace(), "attach\n") << "still referenced once";
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(Trace(), "attach\ndetach\n");
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ModulesTest, FileNamesAndHandlesByName) {
    const fs::path path = fs::absolute(KORVO_TEST_MODULE).lexically_normal();
    HMODULE module = LoadLibraryW(FromUtf8(path.string()).c_str());
    ASSERT_NE(module, nullptr);

    wchar_t buffer[4096];
    const DWORD length = GetModuleFileNameW(module, buffer, 4096);
    EXPECT_EQ(std::wstring(buffer, length), FromUtf8(path.string()));

    // Too small a buffer: cut short, still ended by a NUL, and the answer is the buffer size.
    wchar_t small[5];
    EXPECT_EQ(GetModuleFileNameW(module, small, 5), 5u);
    EXPECT_EQ(std::wstring(small), FromUtf8(path.string()).substr(0, 4));

    EXPECT_EQ(GetModuleHandleW(FromUtf8(path.filename().string()).c_str()), module);
    EXPECT_EQ(GetModuleHandleW(FromUtf8(path.string()).c_str()), module);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleW(FromUtf8(path.string()).c_str()), nullptr);
}

TEST_F(ModulesTest, NullHandleIsTheProgram) {
    wchar_t buffer[4096];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 4096);
    EXPECT_EQ(std::wstring(buffer, length), KorvoHost::FromPath(KorvoHost::ProgramPath()));
    EXPECT_EQ(GetModuleHandleW(nullptr), GetModuleHandleW(nullptr));
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
}

TEST_F(ModulesTest, RefusedAttachUnloads) {
    const std::wstring file = FromUtf8(KORVO_TEST_REFUSING_MODULE);
    EXPECT_EQ(LoadLibraryW(file.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), 1114u);  // ERROR_DLL_INIT_FAILED
    EXPECT_EQ(Trace(), "attach\ndetach\n");
    EXPECT_EQ(GetModuleHandleW(file.c_str()), nullptr);
}

TEST_F(ModulesTest, MissingFileFailsWithAReason) {
    const fs::path missing = dir_.path() / "absent.so";
    EXPECT_EQ(LoadLibraryW(FromUtf8(missing.string()).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_NE(KorvoHost::LastLoadError().find("absent.so"), std::string::npos);
    EXPECT_EQ(Trace(), "");
}

}  // namespace

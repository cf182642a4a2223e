// The registry read from its JSON file, with the Win32 buffer rules callers rely on.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "host/win32_platform.h"
#include "standalone_host/platform/host_environment.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { previous_ = KorvoHost::RegistryFilePath(); }
    void TearDown() override { KorvoHost::SetRegistryFilePath(previous_); }

    void UseRegistry(const std::string& json) {
        const fs::path file = dir_.path() / "registry.json";
        std::ofstream(file) << json;
        KorvoHost::SetRegistryFilePath(file);
    }

    HKEY Open(const wchar_t* subKey, HKEY root = HKEY_LOCAL_MACHINE) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(root, subKey, 0, KEY_READ, &key), ERROR_SUCCESS)
            << "key " << subKey;
        return key;
    }

    KorvoTest::TempDir dir_;
    fs::path previous_;
};

constexpr const char* kKorvoKey = R"({"HKEY_LOCAL_MACHINE": {"Software\\Korvo\\3dsMax": {
    "version": "1.2.3", "Cid": "abc", "count": 7,
    "raw": {"type": "REG_SZ", "data": "xyz", "terminated": false}}}})";

TEST_F(RegistryTest, StringValueFollowsTheBufferRules) {
    UseRegistry(kKorvoKey);
    HKEY key = Open(L"Software\\Korvo\\3dsMax");

    // Size query: the text and its terminator.
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"version", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6 * sizeof(wchar_t));

    // Exactly enough room.
    wchar_t exact[6] = {L'?', L'?', L'?', L'?', L'?', L'?'};
    size = sizeof(exact);
    ASSERT_EQ(
        RegQueryValueExW(key, L"version", nullptr, &type, reinterpret_cast<BYTE*>(exact), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(exact), L"1.2.3");

    // One character short: nothing is written and the needed size comes back.
    wchar_t small[5] = {L'#', L'#', L'#', L'#', L'#'};
    size = sizeof(small);
    EXPECT_EQ(
        RegQueryValueExW(key, L"version", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
        static_cast<LSTATUS>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 6 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(small, 5), L"#####");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ValueKindsAndNamesWithoutCase) {
    UseRegistry(kKorvoKey);
    HKEY key = Open(L"SOFTWARE\\korvo\\3DSMAX\\");
    DWORD type = 0, size = 0;

    // Stored without a terminator: the data is the characters alone.
    wchar_t raw[8];
    std::fill(std::begin(raw), std::end(raw), L'#');
    size = sizeof(raw);
    ASSERT_EQ(RegQueryValueExW(key, L"RAW", nullptr, &type, reinterpret_cast<BYTE*>(raw), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 3 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(raw, 4), L"xyz#");

    DWORD count = 0;
    size = sizeof(count);
    ASSERT_EQ(
        RegQueryValueExW(key, L"count", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, 4u);  // REG_DWORD
    EXPECT_EQ(count, 7u);

    EXPECT_EQ(RegQueryValueExW(key, L"cid", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, L"missing", nullptr, &type, nullptr, &size),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    RegCloseKey(key);
}

TEST_F(RegistryTest, KeysOpenStepByStep) {
    UseRegistry(kKorvoKey);
    HKEY software = Open(L"Software");
    HKEY korvo = Open(L"Korvo\\3dsMax", software);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(korvo, L"version", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(korvo);
    RegCloseKey(software);
}

TEST_F(RegistryTest, MissingKeysFilesAndBadFilesOpenNothing) {
    HKEY key = reinterpret_cast<HKEY>(1);
    UseRegistry(kKorvoKey);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Other", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);
    // A key name that only starts like a listed key is another key.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Korv", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));

    UseRegistry("{ this is not JSON");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));

    KorvoHost::SetRegistryFilePath(dir_.path() / "absent.json");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, ClosedHandlesAreRefused) {
    UseRegistry(kKorvoKey);
    HKEY key = Open(L"Software\\Korvo\\3dsMax");
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"version", nullptr, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
}

TEST_F(RegistryTest, BuildTreeRegistryHoldsTheProjectVersion) {
    // The test program runs from the build tree's bin/, so the default path is the file the
    // build wrote.
    HKEY key = Open(L"Software\\Korvo\\3dsMax");
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    ASSERT_EQ(
        RegQueryValueExW(key, L"version", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), std::wstring(L"" KORVO_PROJECT_VERSION));
    size = sizeof(text);
    ASSERT_EQ(RegQueryValueExW(key, L"cid", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text).size(), 36u) << "a UUID";
    RegCloseKey(key);
}

}  // namespace

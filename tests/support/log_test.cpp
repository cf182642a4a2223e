#include "support/log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "standalone_host/core/host_interface.h"
#include "standalone_host/platform/host_environment.h"
#include "standalone_host/platform/utf8.h"
#include "support/fresh_process.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoHost::FromPath;
using KorvoTest::ReadFile;

// The messages of a log file, after checking that every entry is "<timestamp>: <message>\r\n"
// with the classic locale's date and time of the last few seconds.
std::vector<std::string> Messages(const fs::path& file) {
    static const std::regex entry(R"((\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d): ([^\r\n]*)\r\n)");
    const std::string text = ReadFile(file);
    std::vector<std::string> messages;
    auto begin = text.cbegin();
    std::smatch match;
    while (begin != text.cend()) {
        if (!std::regex_search(begin, text.cend(), match, entry,
                               std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "malformed entry in " << file
                          << " at: " << std::string(begin, text.cend());
            break;
        }
        std::tm stamp{};
        stamp.tm_mon = std::stoi(match[1]) - 1;
        stamp.tm_mday = std::stoi(match[2]);
        stamp.tm_year = std::stoi(match[3]) + 100;
        stamp.tm_hour = std::stoi(match[4]);
        stamp.tm_min = std::stoi(match[5]);
        stamp.tm_sec = std::stoi(match[6]);
        stamp.tm_isdst = -1;
        const double age = std::difftime(std::time(nullptr), std::mktime(&stamp));
        EXPECT_TRUE(age >= 0 && age < 60) << "timestamp " << match.str(0) << " is not now";
        messages.push_back(match[7]);
        begin = match[0].second;
    }
    return messages;
}

using Lines = std::vector<std::string>;

TEST(Log, EntriesBeforeTheFirstOpenAreDropped) {
    KorvoTest::InFreshProcess([] {
        KorvoTest::TempDir dir;
        EXPECT_FALSE(Korvo::LogOpened());
        Korvo::LogMessage(L"early");
        Korvo::LogFormat(L"Number of cameras to render: %d", 2);
        EXPECT_TRUE(fs::is_empty(dir.path()));
        Korvo::OpenLog(FromPath(dir.path()));
        EXPECT_TRUE(Korvo::LogOpened());
        Korvo::LogMessage(L"late");
        Korvo::CloseLog();
        EXPECT_EQ(Messages(dir.path() / "korvo_log.txt"), Lines{"late"});
    });
}

TEST(Log, EntriesHoldTheirTextsExactly) {
    KorvoTest::TempDir dir;
    Korvo::OpenLog(FromPath(dir.path()));
    Korvo::LogMessage(L"Starting render process");
    Korvo::LogMessage(L"Rendering 100%d done %s");
    Korvo::LogFormat(L"No name found for current scene file", L"/out");
    Korvo::LogFormat(
        L"Attempted to move file from %s to %s but failed. Return code was %d with "
        L"error code %u.",
        L"/w/a.jpg", L"/o/a.jpg", -2, DWORD{2});
    Korvo::LogFormat(L"Rendering camera: %s", L"Kamera \u00e9");
    Korvo::CloseLog();
    EXPECT_EQ(Messages(dir.path() / "korvo_log.txt"),
              (Lines{"Starting render process", "Rendering 100%d done %s",
                     "No name found for current scene file",
                     "Attempted to move file from /w/a.jpg to /o/a.jpg but failed. Return code was "
                     "-2 with error code 2.",
                     "Rendering camera: Kamera \xc3\xa9"}));
}

TEST(Log, RunsAppendAndEntriesAfterCloseAreLost) {
    KorvoTest::TempDir dir, other;
    Korvo::OpenLog(FromPath(dir.path()));
    Korvo::LogMessage(L"first run");
    Korvo::CloseLog();
    Korvo::LogMessage(L"after close");
    EXPECT_TRUE(Korvo::LogOpened()) << "the flag stays set";
    Korvo::OpenLog(FromPath(dir.path()));
    Korvo::LogMessage(L"second run");
    Korvo::CloseLog();
    Korvo::OpenLog(FromPath(other.path()));
    Korvo::LogMessage(L"elsewhere");
    Korvo::CloseLog();
    EXPECT_EQ(Messages(dir.path() / "korvo_log.txt"), (Lines{"first run", "second run"}));
    EXPECT_EQ(Messages(other.path() / "korvo_log.txt"), Lines{"elsewhere"});
}

TEST(Log, FolderIsTakenAsGiven) {
    KorvoTest::TempDir dir;
    Korvo::OpenLog(FromPath(dir.path()) + L"/");
    Korvo::LogMessage(L"slash");
    Korvo::CloseLog();
    EXPECT_EQ(Messages(dir.path() / "korvo_log.txt"), Lines{"slash"});

    // A trailing backslash stays part of the folder's name here.
    const fs::path backslashed = dir.path() / "out\\";
    fs::create_directory(backslashed);
    Korvo::OpenLog(FromPath(dir.path() / "out") + L"\\");
    Korvo::LogMessage(L"backslash");
    Korvo::CloseLog();
    EXPECT_EQ(Messages(backslashed / "korvo_log.txt"), Lines{"backslash"});
}

TEST(Log, UnwritableFolderFallsBackToTheHostTempFolder) {
    KorvoTest::TempDir dir, temp;
    KorvoHost::SetTempDirectory(temp.path());
    KorvoHost::HostInterface host;
    KorvoHost::SetCoreInterface(&host);
    KorvoTest::WriteFile(dir.path() / "file", "x");
    Korvo::OpenLog(FromPath(dir.path() / "file"));
    Korvo::LogMessage(L"in the temp folder");
    Korvo::CloseLog();
    KorvoHost::SetCoreInterface(nullptr);
    KorvoHost::SetTempDirectory({});
    EXPECT_EQ(Messages(temp.path() / "korvo_log.txt"), Lines{"in the temp folder"});
    EXPECT_FALSE(fs::exists(dir.path() / "file" / "korvo_log.txt"));
}

TEST(Log, NowhereToWriteLosesEntriesQuietly) {
    KorvoTest::TempDir dir;
    Korvo::OpenLog(FromPath(dir.path() / "missing"));  // and no host interface to fall back on
    Korvo::LogMessage(L"lost");
    Korvo::LogFormat(L"lost %d", 1);
    Korvo::CloseLog();
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Farm tasks of one job log into one output folder at once. Entries longer than a stdio buffer
// are the ones a buffered writer hands over in pieces.
TEST(Log, ConcurrentProcessesKeepEveryEntryWhole) {
    KorvoTest::InFreshProcess([] {
        KorvoTest::TempDir dir;
        constexpr int kProcesses = 4;
        constexpr int kEntries = 150;
        const auto message = [](int process, int entry) {
            const size_t length = entry % 3 == 0 ? 40 : 9000 + 37 * entry;
            std::string text =
                "task " + std::to_string(process) + " entry " + std::to_string(entry) + " ";
            text.append(length, static_cast<char>('a' + process));
            return text;
        };
        std::vector<pid_t> children;
        for (int process = 0; process < kProcesses; ++process) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                Korvo::OpenLog(FromPath(dir.path()));
                for (int entry = 0; entry < kEntries; ++entry)
                    Korvo::LogMessage(KorvoHost::FromUtf8(message(process, entry)));
                Korvo::CloseLog();
                ::_exit(0);
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }

        // Every line is one whole entry, and every entry is there once.
        const std::string text = ReadFile(dir.path() / "korvo_log.txt");
        std::set<std::string> expected;
        for (int process = 0; process < kProcesses; ++process)
            for (int entry = 0; entry < kEntries; ++entry) expected.insert(message(process, entry));
        size_t lines = 0;
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find("\r\n", start);
            ASSERT_NE(end, std::string::npos) << "unterminated last line at " << start;
            const std::string line = text.substr(start, end - start);
            start = end + 2;
            ++lines;
            const size_t colon = line.find(": ");
            ASSERT_NE(colon, std::string::npos) << "line " << lines << " has no timestamp";
            const std::string entry = line.substr(colon + 2);
            EXPECT_EQ(expected.erase(entry), 1u)
                << "line " << lines << " is not one whole entry: " << line.substr(0, 80) << "…";
        }
        EXPECT_EQ(lines, size_t{kProcesses * kEntries});
        EXPECT_TRUE(expected.empty()) << expected.size() << " entries missing";
    });
}

}  // namespace

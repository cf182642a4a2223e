// The terminal front end against dialogs of this program's own resources, with a pipe for the
// person's answers and a file for what the terminal shows.
#include "standalone_host/windows/terminal_front_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <thread>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"

namespace {

constexpr int kChoices = 201, kCheckList = 202, kProgress = 203, kLinks = 204, kNotice = 205;
constexpr int kSave = 1028, kContinue = 1029, kList = 1024, kBar = 1029, kCancelRun = 1025,
              kLink = 1033, kUpload = 1028, kText = 1038;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kModal = DS_MODALFRAME | WS_POPUP | WS_CAPTION;

constexpr DialogItemResource kChoiceItems[] = {
    {WC_STATIC, L"Save the scene first?\n It is safer.", IDC_STATIC, kChild, 0, 0, 10, 10},
    {WC_BUTTON, L"&Save", kSave, kPush, 0, 0, 10, 10},
    {WC_BUTTON, L"Continue without saving", kContinue, kPush, 0, 0, 10, 10},
};
constexpr DialogItemResource kCheckListItems[] = {
    {WC_STATIC, L"Select cameras", IDC_STATIC, kChild, 0, 0, 10, 10},
    {WC_LISTVIEW, L"", kList, kChild | LVS_REPORT, 0, 0, 10, 10},
    {WC_BUTTON, L"OK", IDOK, kChild | BS_DEFPUSHBUTTON | WS_DISABLED, 0, 0, 10, 10},
    {WC_BUTTON, L"Cancel", IDCANCEL, kPush, 0, 0, 10, 10},
};
constexpr DialogItemResource kProgressItems[] = {
    {WC_STATIC, L"Render in Progress", IDC_STATIC, kChild, 0, 0, 10, 10},
    {PROGRESS_CLASS, L"", kBar, kChild | WS_BORDER, 0, 0, 10, 10},
    {WC_BUTTON, L"Cancel", kCancelRun, kPush, 0, 0, 10, 10},
};
constexpr DialogItemResource kLinkItems[] = {
    {WC_STATIC, L"All done!", IDC_STATIC, kChild, 0, 0, 10, 10},
    {WC_LINK, L"<a>Show in Folder</a>", kLink, kChild, 0, 0, 10, 10},
    {WC_BUTTON, L"Upload", kUpload, kPush, 0, 0, 10, 10},
};
constexpr DialogItemResource kNoticeItems[] = {
    {WC_STATIC, L"placeholder", kText, kChild, 0, 0, 10, 10},
    {WC_BUTTON, L"OK", IDOK, kChild | BS_DEFPUSHBUTTON, 0, 0, 10, 10},
};

template <size_t N>
constexpr DialogResource Dialog(WORD id, const wchar_t* caption, DWORD style,
                                const DialogItemResource (&items)[N]) {
    return {id, caption, L"MS Shell Dlg", 8, style, 100, 100, items, N};
}

constexpr DialogResource kDialogs[] = {
    Dialog(kChoices, L"Test Caption", kModal, kChoiceItems),
    Dialog(kCheckList, L"Test Caption", kModal, kCheckListItems),
    Dialog(kProgress, nullptr, DS_MODALFRAME | WS_POPUP, kProgressItems),
    Dialog(kLinks, L"Test Caption", kModal, kLinkItems),
    Dialog(kNotice, L"Test Caption", kModal, kNoticeItems),
};

}  // namespace

extern "C" DLLEXPORT const ModuleResources ModuleResources = {nullptr, 0, kDialogs,
                                                              std::size(kDialogs)};

namespace {

using KorvoHost::FrontEnd;
using KorvoHost::TerminalOptions;

// What the dialogs' procedures saw.
struct Record {
    std::vector<int> commands;
    std::vector<bool> checkedAtEnd;
    bool cancelled = false;
};
Record gRecord;

INT_PTR CALLBACK ChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return message == WM_INITDIALOG;
    gRecord.commands.push_back(LOWORD(wParam));
    if (LOWORD(wParam) != kUpload || GetDlgItem(dialog, kLink) == nullptr)
        EndDialog(dialog, LOWORD(wParam));
    return TRUE;
}

const wchar_t* const kCameras[] = {L"Cam_A", L"Cam_B", L"Cam_C"};

INT_PTR CALLBACK CheckListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND list = GetDlgItem(dialog, kList);
    switch (message) {
        case WM_INITDIALOG:
            SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES);
            for (int i = 0; i < 3; ++i) {
                LVITEMW item{};
                item.mask = LVIF_TEXT;
                item.iItem = i;
                item.pszText = LPSTR_TEXTCALLBACKW;
                SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            }
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == LVN_GETDISPINFOW) {
                auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
                info->item.pszText = const_cast<wchar_t*>(kCameras[info->item.iItem]);
            } else if (header->code == LVN_ITEMCHANGED) {
                bool any = false;
                for (int i = 0; i < 3; ++i) any = any || KorvoHost::IsItemChecked(list, i);
                EnableWindow(GetDlgItem(dialog, IDOK), any);
            }
            return TRUE;
        }
        case WM_COMMAND:
            gRecord.commands.push_back(LOWORD(wParam));
            gRecord.checkedAtEnd.clear();
            for (int i = 0; i < 3; ++i)
                gRecord.checkedAtEnd.push_back(KorvoHost::IsItemChecked(list, i));
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK ProgressProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == kCancelRun) gRecord.cancelled = true;
    return message == WM_INITDIALOG || message == WM_COMMAND;
}

INT_PTR CALLBACK LinkProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        LITEM item{};
        item.mask = LIF_URL;
        wcscpy(item.szUrl, L"https://korvo.test/show?folder=1");
        SendMessageW(GetDlgItem(dialog, kLink), LM_SETITEM, 0, reinterpret_cast<LPARAM>(&item));
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == NM_CLICK) {
        ShellExecuteW(dialog, L"open", reinterpret_cast<const NMLINK*>(lParam)->item.szUrl, nullptr,
                      nullptr, 5);
        return TRUE;
    }
    return ChoiceProc(dialog, message, wParam, lParam);
}

INT_PTR CALLBACK NoticeProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetDlgItemTextW(dialog, kText, reinterpret_cast<LPCWSTR>(lParam));
    return message == WM_INITDIALOG;
}

// Answers what it was given: one press per dialog id, one folder; records what it was told.
class GivenAnswers final : public FrontEnd {
  public:
    Answer AnswerModal(HWND dialog) override {
        const auto it = presses.find(KorvoHost::DialogId(dialog));
        if (it == presses.end()) return Answer::NoAnswer;
        KorvoHost::PressButton(dialog, it->second);
        return Answer::Acted;
    }
    std::optional<std::wstring> BrowseForFolder(std::wstring_view, std::wstring_view) override {
        return std::exchange(folder, std::nullopt);
    }
    void Open(std::wstring_view, std::wstring_view target) override { opened.emplace_back(target); }
    std::map<int, int> presses;
    std::optional<std::wstring> folder;
    std::vector<std::wstring> opened;
};

class TerminalFrontEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gRecord = Record{};
        ASSERT_EQ(pipe(input_), 0);
        output_ = std::tmpfile();
        ASSERT_NE(output_, nullptr);
    }
    void TearDown() override {
        KorvoHost::SetFrontEnd(nullptr);
        frontEnd_.reset();
        for (int fd : input_)
            if (fd >= 0) close(fd);
        std::fclose(output_);
    }

    // A terminal front end on the pipe; the person's lines are typed beforehand and the input
    // ends after them unless keepOpen.
    void Start(const std::string& typed, bool keepOpen = false,
               TerminalOptions::Redraw redraw = TerminalOptions::Redraw::Lines,
               bool handleInterrupt = false) {
        ASSERT_EQ(write(input_[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        if (!keepOpen) {
            close(input_[1]);
            input_[1] = -1;
        }
        TerminalOptions options;
        options.input = input_[0];
        options.output = fileno(output_);
        options.redraw = redraw;
        options.handleInterrupt = handleInterrupt;
        options.clock = [this] { return now_; };
        frontEnd_ = KorvoHost::MakeTerminalFrontEnd(given_, options);
        KorvoHost::SetFrontEnd(frontEnd_.get());
    }

    std::string Shown() {
        std::fflush(output_);
        std::string text;
        std::rewind(output_);
        for (int c; (c = std::fgetc(output_)) != EOF;) text += static_cast<char>(c);
        return text;
    }

    static INT_PTR Run(int dialog, DLGPROC proc, LPARAM param = 0) {
        return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialog), nullptr, proc,
                               param);
    }

    HWND OpenProgress() {
        const HWND window = CreateDialogParamW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgress), nullptr, ProgressProc, 0);
        ShowWindow(window, SW_SHOW);
        return window;
    }

    void SetBar(HWND window, int percent) {
        SendMessageW(GetDlgItem(window, kBar), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }

    static void DispatchPending() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }

    int input_[2] = {-1, -1};
    std::FILE* output_ = nullptr;
    GivenAnswers given_;
    std::unique_ptr<FrontEnd> frontEnd_;
    std::chrono::steady_clock::time_point now_{};
};

TEST_F(TerminalFrontEndTest, DialogShowsItsTextsAndNumberedChoices) {
    Start("2\n");
    EXPECT_EQ(Run(kChoices, ChoiceProc), kContinue);
    const std::string shown = Shown();
    EXPECT_NE(shown.find("== Test Caption ==\nSave the scene first?\n It is safer.\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("  1) Save\n  2) Continue without saving\n  0) Close\n"),
              std::string::npos)
        << shown;
    EXPECT_EQ(gRecord.commands, std::vector<int>{kContinue});
}

TEST_F(TerminalFrontEndTest, ChoicesByNameAndWrongAnswersAskAgain) {
    Start("7\nfrobnicate\n\nsave\n");
    EXPECT_EQ(Run(kChoices, ChoiceProc), kSave);
    const std::string shown = Shown();
    EXPECT_NE(shown.find("There is no choice \"7\"."), std::string::npos) << shown;
    EXPECT_NE(shown.find("There is no choice \"frobnicate\"."), std::string::npos) << shown;
    // Enter without a default button does nothing.
    EXPECT_EQ(gRecord.commands, std::vector<int>{kSave});
}

TEST_F(TerminalFrontEndTest, CloseOrEndOfInputCancels) {
    Start("0\n");
    EXPECT_EQ(Run(kChoices, ChoiceProc), IDCANCEL);
    // The input has ended: the next dialog is closed without a question.
    EXPECT_EQ(Run(kChoices, ChoiceProc), IDCANCEL);
    EXPECT_EQ(gRecord.commands, (std::vector<int>{IDCANCEL, IDCANCEL}));
}

TEST_F(TerminalFrontEndTest, CheckListTogglesAndRespectsDisabledOk) {
    // Enter while OK is disabled, check and clear Cam_B, check A and C, confirm with Enter.
    Start("\n2\n2\nok\n1,3\n\n");
    EXPECT_EQ(Run(kCheckList, CheckListProc), IDOK);
    EXPECT_EQ(gRecord.checkedAtEnd, (std::vector<bool>{true, false, true}));
    const std::string shown = Shown();
    EXPECT_NE(shown.find("Select cameras\n  1 [ ] Cam_A\n  2 [ ] Cam_B\n  3 [ ] Cam_C\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("then type OK (not available), Cancel: "), std::string::npos) << shown;
    EXPECT_NE(shown.find("  2 [x] Cam_B\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\"OK\" is not available now."), std::string::npos) << shown;
    EXPECT_NE(shown.find("  1 [x] Cam_A\n  2 [ ] Cam_B\n  3 [x] Cam_C\n"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("then type OK, Cancel (Enter: OK): "), std::string::npos) << shown;
}

TEST_F(TerminalFrontEndTest, CheckListRangesAllNoneAndCancel) {
    Start("2-3\n0\n4\nall\nnone\n1\ncancel\n");
    EXPECT_EQ(Run(kCheckList, CheckListProc), IDCANCEL);
    EXPECT_EQ(gRecord.checkedAtEnd, (std::vector<bool>{true, false, false}));
    const std::string shown = Shown();
    EXPECT_NE(shown.find("  1 [ ] Cam_A\n  2 [x] Cam_B\n  3 [x] Cam_C\n"), std::string::npos);
    EXPECT_NE(shown.find("  1 [x] Cam_A\n  2 [x] Cam_B\n  3 [x] Cam_C\n"), std::string::npos);
    EXPECT_NE(shown.find("Type item numbers from 1 to 3, or a button."), std::string::npos);
}

TEST_F(TerminalFrontEndTest, GivenAnswersComeFirstAndAskNothing) {
    given_.presses[kChoices] = kSave;
    given_.folder = L"/given/folder";
    Start("");
    EXPECT_EQ(Run(kChoices, ChoiceProc), kSave);
    EXPECT_EQ(frontEnd_->BrowseForFolder(L"Select output directory", L""), L"/given/folder");
    EXPECT_EQ(Shown(), "");
}

TEST_F(TerminalFrontEndTest, FolderPrompt) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
    Start("\n  \nrel/out\n~/renders\n");
    FrontEnd& terminal = *frontEnd_;
    EXPECT_EQ(terminal.BrowseForFolder(L"Select output directory", L"/scenes"), L"/scenes");
    EXPECT_EQ(terminal.BrowseForFolder(L"Select output directory", L""),
              KorvoHost::FromPath(std::filesystem::current_path() / "rel/out"));
    EXPECT_EQ(terminal.BrowseForFolder(L"Select output directory", L""),
              KorvoHost::FromPath((std::filesystem::path(home) / "renders").lexically_normal()));
    // End of input cancels the browser.
    EXPECT_EQ(terminal.BrowseForFolder(L"Select output directory", L""), std::nullopt);
    const std::string shown = Shown();
    EXPECT_NE(shown.find("Select output directory (Ctrl-C cancels)\nFolder [/scenes]: "),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("Folder: Folder: "), std::string::npos) << shown;
}

TEST_F(TerminalFrontEndTest, LinksAreChoicesAndOpenThroughTheShell) {
    Start("1\nupload\n0\n");
    EXPECT_EQ(Run(kLinks, LinkProc), IDCANCEL);
    EXPECT_EQ(given_.opened, std::vector<std::wstring>{L"https://korvo.test/show?folder=1"});
    EXPECT_EQ(gRecord.commands, (std::vector<int>{kUpload, IDCANCEL}));
    const std::string shown = Shown();
    EXPECT_NE(shown.find("  1) Show in Folder\n  2) Upload\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Opening https://korvo.test/show?folder=1\n"), std::string::npos) << shown;
}

TEST_F(TerminalFrontEndTest, ModelessDialogIsAnnounced) {
    Start("");
    const HWND notice =
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kNotice), nullptr,
                           NoticeProc, reinterpret_cast<LPARAM>(L"The folder is missing. (5)"));
    ShowWindow(notice, SW_SHOW);
    EXPECT_EQ(Shown(), "\nTest Caption: The folder is missing. (5)\n");
    DestroyWindow(notice);
}

TEST_F(TerminalFrontEndTest, ProgressLinesFollowCamerasAndFaces) {
    Start("");
    const HWND window = OpenProgress();
    SetBar(window, 0);
    frontEnd_->RenderStarted(L"Cam_A", 64, 64);
    now_ += std::chrono::seconds(10);
    SetBar(window, 25);
    frontEnd_->RenderStarted(L"Cam_A", 64, 64);
    // The second eye of the same face.
    frontEnd_->RenderStarted(L"Cam_A", 64, 64);
    now_ += std::chrono::seconds(10);
    SetBar(window, 50);
    frontEnd_->RenderStarted(L"Cam_B", 64, 64);
    SetBar(window, 100);
    DestroyWindow(window);

    const std::string shown = Shown();
    EXPECT_NE(
        shown.find("Render in Progress [..............................]   0%  0:00 elapsed\n"),
        std::string::npos)
        << shown;
    EXPECT_NE(shown.find("   0%  camera 1 Cam_A  face 1/6  0:00 elapsed\n"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("  25%  camera 1 Cam_A  face 2/6  0:10 elapsed, 0:30 left\n"),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find("face 3/6"), std::string::npos) << shown;
    EXPECT_NE(shown.find("  50%  camera 2 Cam_B  face 1/6  0:20 elapsed, 0:20 left\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("#] 100%  camera 2 Cam_B  face 1/6  0:20 elapsed, 0:00 left\n"),
              std::string::npos)
        << shown;
}

TEST_F(TerminalFrontEndTest, ProgressOnTerminalRedrawsInPlaceThrottled) {
    Start("", false, TerminalOptions::Redraw::InPlace);
    const HWND window = OpenProgress();
    for (int percent = 1; percent <= 5; ++percent) SetBar(window, percent);
    now_ += std::chrono::milliseconds(150);
    SetBar(window, 6);
    DestroyWindow(window);
    const std::string shown = Shown();
    // Drawn at the start, once after the pause, and at the end; each time from the line start.
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\r'), 3) << shown;
    EXPECT_NE(shown.find("\rRender in Progress ["), std::string::npos);
    EXPECT_NE(shown.find("   6%  0:00 elapsed, 0:02 left\x1b[K"), std::string::npos) << shown;
    EXPECT_EQ(shown.back(), '\n');
}

TEST(ProgressLine, FitsTheTerminalAndFormatsTimes) {
    KorvoHost::ProgressLine line;
    line.label = "Render in Progress";
    line.percent = 42;
    line.camera = "Caméra_Longue_Nom";
    line.cameraNumber = 2;
    line.cameraCount = 3;
    line.face = 4;
    line.elapsedSeconds = 3725;
    line.remainingSeconds = 61;
    EXPECT_EQ(KorvoHost::FormatProgressLine(line, 200),
              "Render in Progress [############..................]  42%  camera 2/3 "
              "Caméra_Longue_Nom  face 4/6  1:02:05 elapsed, 1:01 left");
    const std::string narrow = KorvoHost::FormatProgressLine(line, 40);
    EXPECT_EQ(narrow, "[####......]  42%  camera 2/3 Caméra_Lo");
    line.marquee = true;
    line.elapsedSeconds = 0;
    line.remainingSeconds = -1;
    line.camera.clear();
    line.cancelling = true;
    EXPECT_EQ(
        KorvoHost::FormatProgressLine(line, 100),
        "Render in Progress [###..........................]  cancelling (Ctrl-C again to quit)  "
        "0:00 elapsed");
}

// Ctrl-C, with the front end holding SIGINT.
TEST_F(TerminalFrontEndTest, CtrlCPressesTheProgressWindowsCancel) {
    Start("", false, TerminalOptions::Redraw::Lines, true);
    const HWND window = OpenProgress();
    frontEnd_->PollInput();
    DispatchPending();
    EXPECT_FALSE(gRecord.cancelled);
    std::raise(SIGINT);
    // The press waits for the run's next look at its messages, on this thread.
    EXPECT_FALSE(gRecord.cancelled);
    DispatchPending();
    EXPECT_TRUE(gRecord.cancelled);
    EXPECT_NE(Shown().find("cancelling (Ctrl-C again to quit)"), std::string::npos);
    DestroyWindow(window);
}

TEST_F(TerminalFrontEndTest, SecondCtrlCDuringARunEndsTheProgram) {
    Start("", false, TerminalOptions::Redraw::Lines, true);
    const HWND window = OpenProgress();
    std::raise(SIGINT);
    EXPECT_EXIT(std::raise(SIGINT), ::testing::ExitedWithCode(130), "");
    DestroyWindow(window);
}

TEST_F(TerminalFrontEndTest, CtrlCOutsideDialogsEndsTheProgram) {
    Start("", false, TerminalOptions::Redraw::Lines, true);
    EXPECT_EXIT(std::raise(SIGINT), ::testing::ExitedWithCode(130), "");
}

TEST_F(TerminalFrontEndTest, CtrlCAtAPromptClosesTheDialog) {
    Start("", true, TerminalOptions::Redraw::Lines, true);
    std::thread interrupter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(getpid(), SIGINT);
    });
    EXPECT_EQ(Run(kChoices, ChoiceProc), IDCANCEL);
    interrupter.join();
    // The interrupt was spent on the prompt: the front end still asks, and a run after it can
    // be cancelled with one Ctrl-C.
    ASSERT_EQ(write(input_[1], "1\n", 2), 2);
    EXPECT_EQ(Run(kChoices, ChoiceProc), kSave);
}

}  // namespace

namespace {

TEST(InterruptGuard, AnInnerGuardLeavesTheOuterOnesHandler) {
    KorvoHost::InterruptGuard outer;
    { KorvoHost::InterruptGuard inner; }
    KorvoHost::SetInterruptMode(KorvoHost::InterruptMode::Prompt);
    std::raise(SIGINT);
    EXPECT_TRUE(KorvoHost::TakeInterrupt());
    EXPECT_FALSE(KorvoHost::TakeInterrupt());
    KorvoHost::SetInterruptMode(KorvoHost::InterruptMode::Other);
}

}  // namespace

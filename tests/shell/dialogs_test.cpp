// The error dialogs, as ShowError opens them from the recorded error status.
#include "shell/dialogs.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/error_status.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"
#include "support/module_handle.h"
#include "test_support/temp_dir.h"
#include "test_support/test_host.h"

namespace {

constexpr int kContact = 112, kPlain = 118, kErrorText = 1038;

class ErrorDialogs : public ::testing::Test {
  protected:
    ErrorDialogs() {
        // The plug-in's code is linked into this program; its resources are found through it.
        Korvo::SetPluginInstance(GetModuleHandleW(nullptr));
        app_ = std::make_unique<KorvoHost::HostApp>(KorvoTest::PrivateHostOptions(temp_.path()));
    }
    ~ErrorDialogs() override {
        for (const HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
            if (KorvoHost::DialogId(window)) DestroyWindow(window);
    }

    // The dialog ShowError opens for the status: its template id and message.
    std::pair<int, std::wstring> Shown(int code, bool contact) {
        const auto before = KorvoHost::WindowManager::Instance().TopLevelWindows();
        Korvo::SetError(code, contact);
        Korvo::ShowError();
        const auto after = KorvoHost::WindowManager::Instance().TopLevelWindows();
        if (after.size() != before.size() + 1) return {0, L""};
        const HWND dialog = after.back();
        EXPECT_TRUE(IsWindowVisible(dialog));
        return {KorvoHost::DialogId(dialog),
                KorvoHost::WindowText(KorvoHost::FindControl(dialog, kErrorText))};
    }

    KorvoTest::TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
};

const std::wstring kContactSix =
    L"Oops. Looks like something went wrong. Hit the contact button below to tell us what "
    L"happened and we'll do our best to fix it.  (6)";

TEST_F(ErrorDialogs, TheFlagPicksTheDialogNotTheCode) {
    EXPECT_EQ(Shown(6, true), std::make_pair(kContact, kContactSix));
    EXPECT_EQ(Shown(5, false),
              std::make_pair(kPlain, std::wstring(L"The folder name entered does not exist. Please "
                                                  L"make a new folder or select an existing one. "
                                                  L"(5)")));
    EXPECT_EQ(Shown(6, false), std::make_pair(kPlain, kContactSix));
    EXPECT_EQ(Shown(2, true).first, kContact);
    const auto generic = Shown(13, false);
    EXPECT_EQ(generic.first, kPlain);
    EXPECT_EQ(generic.second.rfind(L"Oops. Looks like something went wrong. Please contact", 0),
              0u);
}

TEST_F(ErrorDialogs, SeveralStayOpenAndEachClosesOnItsOwnButton) {
    Shown(2, false);
    Shown(6, true);
    auto windows = KorvoHost::WindowManager::Instance().TopLevelWindows();
    ASSERT_GE(windows.size(), 2u);
    const HWND plain = windows[windows.size() - 2], contact = windows.back();
    EXPECT_EQ(app_->Core().RegisteredDialogs().size(), 2u);
    KorvoHost::PressButton(plain, IDOK);
    EXPECT_FALSE(IsWindow(plain));
    EXPECT_TRUE(IsWindow(contact));
    KorvoHost::CloseWindow(contact);
    EXPECT_FALSE(IsWindow(contact));
    EXPECT_TRUE(app_->Core().RegisteredDialogs().empty());
}

}  // namespace

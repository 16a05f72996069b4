// The progress window: placement, and a Cancel that only raises the flag.
#include <gtest/gtest.h>

#include "base/messages.h"
#include "base/session.h"
#include "payload/progress.h"
#include "payload_support.h"
#include "resources/resource.h"
#include "wintest.h"

namespace {

using ProgressWindow = PayloadTest;

TEST_F(ProgressWindow, OpensCentredAsTheActiveDialog)
{
    copyCancelled = 1;
    HWND status = OpenProgressWindow(session.instance, owner);
    ASSERT_NE(nullptr, status);
    HWND dialog = session.activeDialog;
    EXPECT_EQ(dialog, GetParent(status));
    EXPECT_EQ(owner, GetWindow(dialog, GW_OWNER));
    EXPECT_EQ(0, copyCancelled);
    EXPECT_EQ("Installation", WindowText(dialog));
    EXPECT_EQ("", WindowText(status));
    EXPECT_EQ("Cancel", ItemText(dialog, IDCANCEL));

    EXPECT_TRUE(Centred(dialog));

    ShowStatus(status, "Copying");
    EXPECT_EQ("Copying", WindowText(status));
    CloseProgressWindow(owner);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, session.activeDialog);
}

TEST_F(ProgressWindow, CancelButtonEscapeAndCloseBoxOnlyRaiseTheFlag)
{
    HWND status = OpenProgressWindow(session.instance, owner);
    ASSERT_NE(nullptr, status);
    HWND dialog = session.activeDialog;

    // The button; Escape, which reaches the dialog through the pump's dialog
    // keyboard handling; the close box, for which the dialog manager posts IDCANCEL.
    for (int way = 0; way < 3; way++) {
        copyCancelled = 0;
        if (way == 0)
            PressButton(dialog, IDCANCEL);
        else if (way == 1)
            PostMessageA(GetDlgItem(dialog, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
        else
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpMessages();
        EXPECT_EQ(1, copyCancelled) << way;
    }
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
    CloseProgressWindow(owner);
}

TEST_F(ProgressWindow, QuietOpensNothing)
{
    session.quiet = 1;
    copyCancelled = 1;
    EXPECT_EQ(nullptr, OpenProgressWindow(session.instance, owner));
    EXPECT_EQ(nullptr, session.activeDialog);
    EXPECT_EQ(0, copyCancelled);
    CloseProgressWindow(owner);
    EXPECT_EQ(nullptr, session.activeDialog);
}

} // namespace

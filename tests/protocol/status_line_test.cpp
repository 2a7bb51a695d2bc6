// The status line's state: the text and colour, the synchronous repaint, and timer 202 that ends a
// message, with a plain window standing in for the main window.
#include <gtest/gtest.h>

#include "app/status_line.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

class StatusLine : public ExchangeTest {
protected:
    // True when the status timer of the main window fires within `milliseconds`.
    bool StatusTimerFires(DWORD milliseconds) {
        const DWORD start = GetTickCount();
        MSG message;
        while (GetTickCount() - start < milliseconds) {
            while (PeekMessageW(&message, mainWindow, WM_TIMER, WM_TIMER, PM_REMOVE)) {
                if (message.wParam == TIMER_STATUS_MESSAGE) {
                    KillTimer(mainWindow, TIMER_STATUS_MESSAGE);
                    return true;
                }
            }
            Sleep(10);
        }
        return false;
    }
};

TEST_F(StatusLine, AMessageIsPaintedAtOnceAndEndsWithTimer202) {
    context->statusColor = 0;
    const int paintsBefore = paints;
    ShowStatusMessage(L"Сообщение", 150);
    EXPECT_GT(paints, paintsBefore) << "painted before the call returns";
    EXPECT_EQ(L"Сообщение", context->statusText);
    EXPECT_EQ(0xFF000000u, context->statusColor);
    EXPECT_TRUE(StatusTimerFires(2000));
}

TEST_F(StatusLine, TransferAndIdleTextsStopThePendingMessage) {
    ShowStatusMessage(L"first", 100);
    int paintsBefore = paints;
    ShowTransferStatus();
    EXPECT_GT(paints, paintsBefore);
    EXPECT_EQ(kTextTransfer, context->statusText);
    EXPECT_EQ(kStatusBlack, context->statusColor);
    EXPECT_FALSE(StatusTimerFires(400));

    ShowStatusMessage(L"second", 100);
    context->visibility = Visibility::SwitchedOff;
    paintsBefore = paints;
    ShowIdleStatus();
    EXPECT_GT(paints, paintsBefore);
    EXPECT_EQ(L"offline", context->statusText);
    EXPECT_FALSE(StatusTimerFires(400));

    for (Visibility visibility : {Visibility::Visible, Visibility::VisibleToGroups, Visibility::Invisible}) {
        context->visibility = visibility;
        ShowIdleStatus();
        EXPECT_EQ(kTextIdleProductLine, context->statusText) << static_cast<int>(visibility);
    }
}

TEST_F(StatusLine, ASecondMessageGetsItsFullDuration) {
    ShowStatusMessage(L"first", 150);
    ShowStatusMessage(L"second", 1500);
    EXPECT_EQ(L"second", context->statusText);
    EXPECT_FALSE(StatusTimerFires(500)) << "the first message's timer was killed";
    EXPECT_TRUE(StatusTimerFires(3000));
}

}  // namespace

// The tab header and the status line: taps on the header, what is drawn for three tabs, two tabs
// and the log-in, the status line's colour, and whether the texts fit their places.
#include <windows.h>

#include "app/status_line.h"
#include "app/tab_header.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"

namespace {

class TabHeader : public ShellTest {
protected:
    // True when the tap changed nothing: no pane switched and nothing to repaint.
    bool TapChangesNothing(int x, int y) {
        const int pane = context().currentPane;
        const int tab = context().selectedTab;
        ValidateRect(main(), nullptr);
        SendMessageW(main(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        RECT update;
        const bool repaint = GetUpdateRect(main(), &update, FALSE) != FALSE;
        return !repaint && context().currentPane == pane && context().selectedTab == tab;
    }
    void TapHeader(int x, int y) { SendMessageW(main(), WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
};

TEST_F(TabHeader, TapsAtTheQvgaBoundariesHitOnlyInside) {
    if (s() != 1) GTEST_SKIP() << "the boundaries are those of a 240-pixel screen";
    CreateRunningMain();
    ShowPane(kPaneGroups, true);
    EXPECT_TRUE(TapChangesNothing(60, 15)) << "between the icon and the first tab";
    EXPECT_TRUE(TapChangesNothing(61, 7));
    EXPECT_TRUE(TapChangesNothing(61, 27));
    TapHeader(61, 15);
    EXPECT_EQ(kPaneMe, context().currentPane);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    EXPECT_TRUE(TapChangesNothing(61, 15)) << "the tab on screen is not shown again";
    EXPECT_TRUE(TapChangesNothing(119, 26)) << "still the tab on screen";
    TapHeader(121, 8);
    EXPECT_EQ(kPaneGroups, context().selectedTab);
    TapHeader(239, 15);
    EXPECT_EQ(kPaneConfiguration, context().selectedTab);
    EXPECT_TRUE(TapChangesNothing(180, 15));

    TapHeader(30, 15);
    EXPECT_EQ(kPaneVisibility, context().currentPane) << "the icon opens the visibility chooser";
    EXPECT_EQ(kPaneConfiguration, context().selectedTab);
}

TEST_F(TabHeader, TwoTabsSplitTheHeaderInHalves) {
    CreateRunningMain();
    context().accountMode = AccountMode::OwnName;
    const int half = context().contentRect.right / 2;
    const int y = 15 * s();
    TapHeader(half + 10, y);
    EXPECT_EQ(kPaneConfiguration, context().selectedTab);
    TapHeader(10, y);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    TapHeader(5000, y);
    EXPECT_EQ(kPaneConfiguration, context().selectedTab) << "beyond the last pixel still means the right half";
    TapHeader(half - 1, y);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    TapHeader(half, y);
    EXPECT_EQ(kPaneConfiguration, context().selectedTab);
    TapHeader(10, 27 * s());
    EXPECT_EQ(kPaneConfiguration, context().selectedTab) << "below the header";
}

TEST_F(TabHeader, TheHeaderIsInactiveDuringTheLogIn) {
    CreateMain();
    EXPECT_TRUE(TapChangesNothing(30 * s(), 15 * s()));
    EXPECT_TRUE(TapChangesNothing(100 * s(), 15 * s()));
}

class Painting : public TabHeader {
protected:
    void SetUp() override {
        TabHeader::SetUp();
        CreateRunningMain();
        GetClientRect(main(), &client_);
        q_ = context().contentRect.right / 4;
        top_ = context().contentRect.top;
        joinRow_ = top_ + 20 * s();
    }
    RECT client_ = {};
    int q_ = 0;
    int top_ = 0;
    int joinRow_ = 0;  // the row where the tabs meet the content frame
};

TEST_F(Painting, TheSelectedTabJoinsTheContentFrameAndStandsTaller) {
    for (int selected = 0; selected < 3; ++selected) {
        ShowPane(selected, true);
        Picture picture(client_.right, client_.bottom);
        PaintMain(picture);
        for (int tab = 0; tab < 3; ++tab) {
            const int middle = (tab + 1) * q_ + q_ / 2;
            if (tab == selected) {
                EXPECT_TRUE(picture.IsWhite(middle, joinRow_)) << "tab " << tab << " opens into the content";
                EXPECT_TRUE(picture.IsBlack(middle, top_)) << "tab " << tab << " starts at the top";
            } else {
                EXPECT_TRUE(picture.IsBlack(middle, joinRow_)) << "tab " << tab << " sits on the frame";
                EXPECT_TRUE(picture.IsWhite(middle, top_)) << "tab " << tab << " is lower";
                EXPECT_TRUE(picture.IsBlack(middle, top_ + context().borderY)) << "tab " << tab;
            }
        }
        EXPECT_TRUE(picture.IsBlack(2, joinRow_)) << "the content frame's top beside the tabs";
        EXPECT_TRUE(picture.IsBlack(0, joinRow_ + 10 * s())) << "the content frame's left edge";
    }
}

TEST_F(Painting, TheIconShowsTheVisibilityState) {
    // The icon reaches below the content frame's top; only the part above it is looked at.
    const RECT iconArea = {(q_ - 24 * s()) / 2, top_ - 2, (q_ + 24 * s()) / 2, joinRow_};
    const auto notWhite = [](COLORREF colour) { return colour != RGB(255, 255, 255); };
    Picture visible(client_.right, client_.bottom);
    PaintMain(visible);
    EXPECT_TRUE(visible.AnyIn(iconArea, notWhite));

    context().visibility = Visibility::SwitchedOff;
    Picture switchedOff(client_.right, client_.bottom);
    PaintMain(switchedOff);
    bool differs = false;
    for (int y = iconArea.top; y < iconArea.bottom && !differs; ++y) {
        for (int x = iconArea.left; x < iconArea.right && !differs; ++x) differs = visible.At(x, y) != switchedOff.At(x, y);
    }
    EXPECT_TRUE(differs) << "each state has its own icon";

    context().visibility = static_cast<Visibility>(9);
    Picture unknown(client_.right, client_.bottom);
    PaintMain(unknown);
    EXPECT_FALSE(unknown.AnyIn(iconArea, notWhite)) << "a state the table does not know has no icon";
}

TEST_F(Painting, TwoTabsShowTheSelectedHalfOpen) {
    context().accountMode = AccountMode::OwnName;
    const int half = context().contentRect.right / 2;
    ShowPane(kPaneMe, true);
    Picture me(client_.right, client_.bottom);
    PaintMain(me);
    EXPECT_TRUE(me.IsWhite(half / 2, joinRow_));
    EXPECT_TRUE(me.IsBlack(half + half / 2, joinRow_));

    ShowPane(kPaneConfiguration, true);
    Picture settings(client_.right, client_.bottom);
    PaintMain(settings);
    EXPECT_TRUE(settings.IsBlack(half / 2, joinRow_));
    EXPECT_TRUE(settings.IsWhite(half + half / 2, joinRow_));
}

TEST_F(Painting, TheStatusLineIsDrawnInItsColourWithoutTheHighByte) {
    context().statusText = kTextIdleOffline;
    context().statusColor = 0xFF0000FF;  // red, kept as the status colours are kept
    Picture picture(client_.right, client_.bottom);
    PaintMain(picture);
    const int bottom = context().contentRect.bottom;
    EXPECT_TRUE(picture.IsBlack(client_.right / 2, bottom - s())) << "the status line's frame";
    EXPECT_TRUE(picture.IsBlack(client_.right / 2, client_.bottom - 1));
    const RECT line = {1, bottom, client_.right - 1, client_.bottom - 1};
    EXPECT_TRUE(picture.AnyIn(line, [](COLORREF c) {
        return GetRValue(c) > 200 && GetGValue(c) < 80 && GetBValue(c) < 80;
    })) << "the text is red";
}

// At rest the product line is drawn in the grey of disabled text; "offline", the transfer and every
// message in black. The darkest pixel of the line's inside is the colour of its text.
TEST_F(Painting, TheIdleProductLineIsGreyAndEveryOtherStatusBlack) {
    const COLORREF grey = GetSysColor(COLOR_GRAYTEXT);
    const COLORREF black = RGB(0, 0, 0);
    const struct {
        const char* name;
        Visibility visibility;
        void (*show)();
        const wchar_t* text;
        COLORREF colour;
    } cases[] = {
        {"idle, visible", Visibility::Visible, ShowIdleStatus, kTextIdleProductLine, grey},
        {"idle, visible to groups", Visibility::VisibleToGroups, ShowIdleStatus, kTextIdleProductLine, grey},
        {"idle, invisible", Visibility::Invisible, ShowIdleStatus, kTextIdleProductLine, grey},
        {"idle, switched off", Visibility::SwitchedOff, ShowIdleStatus, kTextIdleOffline, black},
        {"transfer", Visibility::Visible, ShowTransferStatus, kTextTransfer, black},
        {"message", Visibility::Visible, [] { ShowStatusMessage(kTextTimeout, 5000); }, kTextTimeout, black},
    };
    ASSERT_NE(black, grey);
    const int bottom = context().contentRect.bottom;
    // Below the content frame's lower edge, which the status line's frame overlaps on VGA.
    const RECT inside = {context().contentRect.left + 1, bottom, context().contentRect.right - 1, bottom + 15 * s() - 1};
    for (const auto& test : cases) {
        context().visibility = test.visibility;
        test.show();
        EXPECT_EQ(std::wstring(test.text), context().statusText) << test.name;
        EXPECT_EQ(test.colour, context().statusColor & 0x00FFFFFF) << test.name;
        Picture picture(client_.right, client_.bottom);
        PaintMain(picture);
        COLORREF darkest = RGB(255, 255, 255);
        for (int y = inside.top; y < inside.bottom; ++y) {
            for (int x = inside.left; x < inside.right; ++x) {
                const COLORREF c = picture.At(x, y);
                if (GetRValue(c) + GetGValue(c) + GetBValue(c) < GetRValue(darkest) + GetGValue(darkest) + GetBValue(darkest)) {
                    darkest = c;
                }
            }
        }
        EXPECT_EQ(test.colour, darkest) << test.name;
    }
}

// The bold fonts draw heavier strokes than the regular ones at this screen's size (VGA draws
// every text above the sizes Wine's Tahoma Bold has bold bitmaps for).
TEST_F(Painting, BoldTextsAreHeavierThanRegularOnes) {
    const std::wstring text = L"Группы Настр Мама: Москва, Лесная ул.";
    HFONT regularHeading = CreateFontW(16 * s(), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH,
                                       L"Tahoma");
    const struct {
        const char* name;
        HFONT bold;
        HFONT regular;
    } pairs[] = {
        {"14 units", context().fontBold, context().fontNormal},
        {"16 units", context().fontHeading, regularHeading},
    };
    for (const auto& pair : pairs) {
        double ink[2] = {};
        HFONT fonts[2] = {pair.bold, pair.regular};
        for (int index = 0; index < 2; ++index) {
            Picture picture(40 * 14 * s(), 30 * s());
            SelectObject(picture.dc(), fonts[index]);
            TextOutW(picture.dc(), 0, 0, text.c_str(), static_cast<int>(text.size()));
            ink[index] = picture.InkIn({0, 0, picture.width(), picture.height()});
        }
        EXPECT_GT(ink[0], 1.3 * ink[1]) << pair.name << ", scale " << s();
    }
    DeleteObject(regularHeading);
}

TEST_F(Painting, DuringTheLogInOnlyTheStatusLineIsDrawn) {
    context().loginPhase = true;
    Picture picture(client_.right, client_.bottom);
    PaintMain(picture);
    const auto notWhite = [](COLORREF c) { return c != RGB(255, 255, 255); };
    EXPECT_FALSE(picture.AnyIn({0, 0, client_.right, context().contentRect.bottom - s()}, notWhite));
    EXPECT_TRUE(picture.IsBlack(client_.right / 2, context().contentRect.bottom - s()));
}

TEST_F(Painting, EveryCaptionAndStatusTextFitsItsPlace) {
    const int tabWidth = q_ - 2;
    for (const wchar_t* caption : {kTextTabMe, kTextTabGroups, kTextTabSettings}) {
        EXPECT_LE(Measure(context().fontBold, caption).cx, tabWidth);
    }
    const int lineWidth = context().contentRect.right - 4;
    for (const wchar_t* text : {kTextIdleOffline, kTextIdleProductLine, kTextTransfer, kTextTransferError, kTextTimeout,
                                kTextCannotConnect, kTextCannotInitializeSession, kTextSettingsSaved,
                                kTextMarkDeleted, kTextCannotDeleteMark}) {
        const SIZE size = Measure(context().fontSmall, text);
        EXPECT_LE(size.cx, lineWidth);
        EXPECT_LE(size.cy, 15 * s());
    }
}

TEST_F(Painting, StatusTextsArePaintedBeforeTheCallReturns) {
    ShowIdleStatus();
    UpdateWindow(main());
    ShowTransferStatus();
    RECT update;
    EXPECT_FALSE(GetUpdateRect(main(), &update, FALSE)) << "painted at once, not when the queue is next read";
    ShowStatusMessage(kTextTimeout, 5000);
    EXPECT_FALSE(GetUpdateRect(main(), &update, FALSE));
    ShowIdleStatus();
    EXPECT_FALSE(GetUpdateRect(main(), &update, FALSE));
}

TEST_F(TabHeader, ASecondMessageShowsForItsWholeDuration) {
    CreateRunningMain();
    ShowStatusMessage(kTextTransferError, 400);
    Pump(250);
    ShowStatusMessage(kTextTimeout, 400);
    Pump(300);
    EXPECT_EQ(std::wstring(kTextTimeout), context().statusText) << "the first message's end does not cut the second";
    Pump(500);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
}

}  // namespace

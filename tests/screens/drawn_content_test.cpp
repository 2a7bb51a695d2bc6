// What the panes draw, read back from the screen and compared pixel for pixel with the expected
// texts drawn by the test in the same font, colour and rectangle: the texts that replace the
// group tab's list, the detail window, and the configuration tab's headings. Each runs at every
// scale whose window fits this screen (both in the screens_tests_vga run).
#include "tests/screens/screen_fixture.h"

#include <string>

#include "resources/resource_ids.h"
#include "screens/pane_window.h"
#include "tests/support/picture.h"

namespace {

using pelmora_test::Picture;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kNameBlue = RGB(48, 48, 255);

// Draws `text` as the panes draw their texts: on the white of a fresh device context.
void DrawExpected(Picture& picture, HFONT font, COLORREF colour, RECT area, const std::wstring& text, UINT format) {
    HGDIOBJ old = SelectObject(picture.dc(), font);
    SetTextColor(picture.dc(), colour);
    DrawTextW(picture.dc(), text.c_str(), -1, &area, format | DT_NOPREFIX);
    SelectObject(picture.dc(), old);
}

bool HasInk(const Picture& picture, const RECT& area) { return picture.InkIn(area) > 10; }

class DrawnContent : public ScreenTest {
protected:
    void Open(int scale) {
        UseScale(scale);
        CreatePanes();
        context().groups = {MakeGroup(4, L"Семья (3)",
                                      {MakePerson(41, L"Анна: ", L"Москва, Тверская ул., дом 7, строение 1, подъезд 3, 2.5 км"),
                                       MakePerson(42, L"", L"Химки, 18 км"), MakePerson(43, L"Я: ", L"Дом")})};
        SendMessageW(pane(kPaneGroups), WM_SIZE, 0, 0);
        Show(kPaneGroups);
    }
};

TEST_F(DrawnContent, TheGroupTabsReplacementTextsAsDrawn) {
    const struct {
        const char* name;
        bool privateHours;
        Visibility visibility;
        const wchar_t* text;
    } cases[] = {
        {"private hours", true, Visibility::Visible, L"Мое местоположение не показывается другим с 18.00 до 8.00 и в выходные дни."},
        {"private hours while switched off", true, Visibility::SwitchedOff,
         L"Мое местоположение не показывается другим с 18.00 до 8.00 и в выходные дни."},
        {"switched off", false, Visibility::SwitchedOff, L"Вы отключены"},
        {"invisible", false, Visibility::Invisible, L"Чтобы видеть других людей, включите режим \"Виден\""},
    };
    for (int scale : ScalesOnThisScreen()) {
        Open(scale);
        const int s = scale;
        HWND tab = pane(kPaneGroups);
        const RECT client = ClientRect(tab);
        for (const auto& test : cases) {
            SCOPED_TRACE(std::string(test.name) + ", scale " + std::to_string(s));
            context().inPrivateHours = test.privateHours;
            context().visibility = test.visibility;
            Picture drawn(client.right, client.bottom);
            pelmora_test::CaptureClientArea(tab, drawn);
            Picture expected(client.right, client.bottom);
            DrawExpected(expected, context().fontBold, kBlack, {10 * s, 10 * s, client.right - 10 * s, client.bottom},
                         test.text, DT_LEFT | DT_WORDBREAK);
            ASSERT_TRUE(HasInk(expected, client));
            EXPECT_EQ(0, drawn.DifferencesFrom(expected, client));
        }
    }
}

TEST_F(DrawnContent, TheDetailWindowAsDrawn) {
    const struct {
        int row;
        const wchar_t* name;  // as drawn: without the ": " the model keeps
        const wchar_t* address;
        bool wraps;
    } cases[] = {
        {0, L"Анна", L"Москва, Тверская ул., дом 7, строение 1, подъезд 3, 2.5 км", true},
        {1, L"", L"Химки, 18 км", false},
        {2, L"Я", L"Дом", false},
    };
    for (int scale : ScalesOnThisScreen()) {
        Open(scale);
        const int s = scale;
        for (const auto& test : cases) {
            SCOPED_TRACE("row " + std::to_string(test.row) + ", scale " + std::to_string(s));
            HWND tab = pane(kPaneGroups);
            const int y = 20 * s + 38 * s * test.row;
            Tap(tab, ClientRect(tab).right / 2, y);
            Tap(tab, ClientRect(tab).right / 2, y);
            HWND detail = context().groupSelection.detailWindow;
            ASSERT_NE(nullptr, detail);
            const RECT client = ClientRect(detail);
            Picture drawn(client.right, client.bottom);
            pelmora_test::CaptureClientArea(detail, drawn);

            Picture expected(client.right, client.bottom);
            Rectangle(expected.dc(), 0, 0, client.right, client.bottom);
            RECT text = {5 * s, 5 * s, client.right - 5 * s, client.bottom};
            DrawExpected(expected, context().fontBold, kBlack, text, L"Семья (3)", DT_LEFT | DT_SINGLELINE);
            text.top += 18 * s;
            DrawExpected(expected, context().fontBold, kNameBlue, text, test.name, DT_LEFT | DT_SINGLELINE);
            text.top += 18 * s;
            DrawExpected(expected, context().fontBold, kBlack, text, test.address, DT_LEFT | DT_WORDBREAK);
            EXPECT_EQ(0, drawn.DifferencesFrom(expected, client));

            // The address wraps inside the panel when it is longer than a line.
            HDC dc = expected.dc();
            HGDIOBJ old = SelectObject(dc, context().fontBold);
            RECT measured = text;
            const int height = DrawTextW(dc, test.address, -1, &measured, DT_LEFT | DT_WORDBREAK | DT_CALCRECT);
            TEXTMETRICW metrics;
            GetTextMetricsW(dc, &metrics);
            SelectObject(dc, old);
            EXPECT_EQ(test.wraps, height > metrics.tmHeight);
            EXPECT_LE(text.top + height, client.bottom) << "the whole address is inside the panel";
            Tap(detail, 5, 5);
        }
    }
}

TEST_F(DrawnContent, TheConfigurationTabsHeadingsAsDrawn) {
    for (int scale : ScalesOnThisScreen()) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        UseScale(scale);
        CreatePanes();
        Show(kPaneConfiguration);
        const int s = scale;
        HWND tab = pane(kPaneConfiguration);
        const RECT client = ClientRect(tab);
        Picture drawn(client.right, client.bottom);
        pelmora_test::CaptureClientArea(tab, drawn);
        Picture expected(client.right, client.bottom);
        const RECT heading = {12 * s, 12 * s, client.right - 12 * s, 28 * s};
        DrawExpected(expected, context().fontHeading, kNameBlue, heading, L"Меню", DT_LEFT | DT_SINGLELINE);
        const RECT question = {12 * s, 114 * s, client.right - 12 * s, 142 * s};
        DrawExpected(expected, context().fontBold, kBlack, question, L"Как часто передавать мое местоположение",
                     DT_LEFT | DT_WORDBREAK);
        for (const RECT& area : {heading, question}) {
            ASSERT_TRUE(HasInk(expected, area));
            EXPECT_EQ(0, drawn.DifferencesFrom(expected, area));
        }
    }
}

}  // namespace

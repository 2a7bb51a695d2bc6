// A 32-bit picture in memory for tests of what windows draw: a window's client area or a part of
// the screen captured, or the drawing a test expects, made with the same fonts, colours and rectangles.
#pragma once

#include <windows.h>

#include <vector>

namespace pelmora_test {

class Picture {
public:
    // White, `width` by `height` pixels, with a device context to draw into.
    Picture(int width, int height);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // CLR_INVALID outside the picture.
    COLORREF At(int x, int y) const;
    bool IsWhite(int x, int y) const { return At(x, y) == RGB(255, 255, 255); }
    bool IsBlack(int x, int y) const { return At(x, y) == RGB(0, 0, 0); }
    // True when some pixel inside `area` passes `test`.
    template <typename Test>
    bool AnyIn(const RECT& area, Test test) const {
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                if (test(At(x, y))) return true;
            }
        }
        return false;
    }
    // The number of pixels of `area` in which the two pictures differ (pixels outside one of them
    // count).
    int DifferencesFrom(const Picture& other, const RECT& area) const;
    // How much darker than white `area` is: the sum over its pixels of 255 minus the mean of the
    // three channels, in units of one fully black pixel.
    double InkIn(const RECT& area) const;
    // The colours of `area` (within the picture), row by row.
    std::vector<COLORREF> Colours(const RECT& area) const;
    // Copies the screen from (left, top) into the whole picture: what is on screen there now,
    // whichever windows show it.
    void TakeScreen(int left, int top);

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    const DWORD* bits_ = nullptr;
};

// What `window` shows on screen now, after painting what it had to paint, from the top left of
// its client area.
void CaptureClientArea(HWND window, Picture& picture);

}  // namespace pelmora_test

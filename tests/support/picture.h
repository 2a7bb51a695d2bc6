// A 32-bit picture for tests of what windows paint: drawn into with dc(), or filled from the screen.
#pragma once

#include <windows.h>

#include <vector>

namespace pelmora_test {

class Picture {
public:
    // White, `width` by `height` pixels.
    Picture(int width, int height);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    HDC dc() const { return dc_; }
    // The colour at (x, y); CLR_INVALID outside the picture.
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
    // The colours of `area` (within the picture), row by row.
    std::vector<COLORREF> Colours(const RECT& area) const;
    // Copies the screen from (left, top) into the whole picture: what is on screen there now.
    void TakeScreen(int left, int top);

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    const DWORD* bits_ = nullptr;
};

}  // namespace pelmora_test

// What belongs to one window rather than to the program (a pane's scroll offset) lives in a struct of
// the window's class, attached to the window: its creator makes the struct and hands it in through
// CreateWindowEx's creation parameter, WM_NCCREATE keeps it in GWLP_USERDATA, and WM_NCDESTROY
// deletes it with the window. Nothing of it outlives the window or is shared by two of them.
#pragma once

#include <windows.h>

#include <memory>
#include <new>

// A fresh state for a window about to be created; null when memory is exhausted.
template <typename State>
std::unique_ptr<State> MakeWindowState() {
    return std::unique_ptr<State>(new (std::nothrow) State);
}

// The creation parameter that hands `state` to the window. The window takes it over in WM_NCCREATE;
// when CreateWindowEx fails before that, `state` still holds it and frees it.
template <typename State>
void* WindowStateParameter(std::unique_ptr<State>& state) {
    return &state;
}

// The first call of the window procedure for every message: takes over the handed-in state at
// WM_NCCREATE and deletes it at WM_NCDESTROY. Returns the window's state, null before WM_NCCREATE,
// from WM_NCDESTROY on, and for a window created without one.
template <typename State>
State* TrackWindowState(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* handed = static_cast<std::unique_ptr<State>*>(creation->lpCreateParams);
        if (handed != nullptr) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(handed->release()));
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete state;
        return nullptr;
    }
    return state;
}

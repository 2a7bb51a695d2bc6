#include "app/message_box.h"

#include <utility>

namespace {

MessageBoxAnswerer& Answerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}

}  // namespace

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (Answerer()) return Answerer()(owner, text, caption, flags);
    return MessageBoxW(owner, text, caption, flags);
}

void SetMessageBoxAnswerer(MessageBoxAnswerer answerer) { Answerer() = std::move(answerer); }

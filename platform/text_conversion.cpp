#include "platform/text_conversion.h"

#include <windows.h>

#include <cstring>

namespace {

// Appends `size` bytes of `text` in `codePage` to `wide`; nothing for bytes that do not convert.
void AppendWide(UINT codePage, const char* text, int size, std::wstring* wide) {
    if (size <= 0) return;
    const int length = MultiByteToWideChar(codePage, 0, text, size, nullptr, 0);
    if (length <= 0) return;
    const std::size_t start = wide->size();
    wide->resize(start + static_cast<std::size_t>(length));
    MultiByteToWideChar(codePage, 0, text, size, wide->data() + start, length);
}

std::wstring ToWide(UINT codePage, const std::string& text) {
    std::wstring result;
    AppendWide(codePage, text.data(), static_cast<int>(text.size()), &result);
    return result;
}

std::string ToNarrow(UINT codePage, const std::wstring& text) {
    if (text.empty()) return {};
    const int length =
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

}  // namespace

void AppendUtf8AsWide(const char* text, std::wstring* wide) {
    AppendWide(CP_UTF8, text, static_cast<int>(std::strlen(text)), wide);
}

std::wstring AnsiToWide(const std::string& text) { return ToWide(CP_ACP, text); }
std::string WideToAnsi(const std::wstring& text) { return ToNarrow(CP_ACP, text); }
std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text); }
std::string WideToUtf8(const std::wstring& text) { return ToNarrow(CP_UTF8, text); }

bool TryUtf8ToWide(const std::string& text, std::wstring* wide) {
    if (text.empty()) {
        wide->clear();
        return true;
    }
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, result.data(), length);
    *wide = std::move(result);
    return true;
}

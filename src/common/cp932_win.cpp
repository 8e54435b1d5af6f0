// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "common/cp932_native.h"

namespace kv::cp932::native {

namespace {
constexpr UINT kCodePage = 932;
}

size_t DecodeChar(const char* bytes, size_t len, char16_t out[2]) {
    wchar_t w[2] = {0, 0};
    // Without MB_ERR_INVALID_CHARS an unmapped pair would come back as a default character
    // and could not be told from a real one.
    const int n =
        ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(len), w, 2);
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) out[i] = static_cast<char16_t>(w[i]);
    return static_cast<size_t>(n);
}

size_t EncodeChar(char16_t ch, char out[4]) {
    const wchar_t w = static_cast<wchar_t>(ch);
    BOOL usedDefault = FALSE;
    // No best fit: a character the code page lacks must become '?', not a look-alike.
    const int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &w, 1, out, 4, nullptr,
                                        &usedDefault);
    if (n <= 0 || usedDefault) return 0;
    return static_cast<size_t>(n);
}

}  // namespace kv::cp932::native

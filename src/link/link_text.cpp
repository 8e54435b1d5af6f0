// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/link_text.h"

#include "common/cp932.h"

namespace kv::link {

namespace {

char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
    if (c >= u'\uFF41' && c <= u'\uFF5A') return static_cast<char16_t>(c - u'\uFF41' + u'\uFF21');
    return c;
}

}  // namespace

int FindText(int start, std::u16string_view text, std::u16string_view pattern, bool ignoreCase) {
    if (start < 1 || static_cast<size_t>(start) > text.size()) return 0;
    if (pattern.empty()) return start;
    if (pattern.size() > text.size()) return 0;
    const size_t last = text.size() - pattern.size();
    for (size_t i = static_cast<size_t>(start - 1); i <= last; ++i) {
        size_t k = 0;
        while (k < pattern.size() &&
               (ignoreCase ? Fold(text[i + k]) == Fold(pattern[k]) : text[i + k] == pattern[k]))
            ++k;
        if (k == pattern.size()) return static_cast<int>(i + 1);
    }
    return 0;
}

std::u16string WithoutFillers(std::u16string_view text) {
    std::u16string kept;
    kept.reserve(text.size());
    for (char16_t c : text)
        if (c != 0) kept.push_back(c);
    return kept;
}

std::string Visible(std::u16string_view text) {
    return Utf16ToUtf8(WithoutFillers(text));
}

}  // namespace kv::link

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text helpers of the call-log viewer. They count characters, so they work on byte strings
// (pure ASCII lines, the common case) and on UTF-16 strings (lines with Japanese text) alike.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace kv::logview {

inline constexpr int kMaxFields = 10;

// Fields 1 to kMaxFields of one split line; index 0 is unused so the numbers match the log's.
template <class C>
using Fields = std::array<std::basic_string_view<C>, kMaxFields + 1>;

// A field that opens with a double quote loses its first and last character. A lone quote
// (a truncated line) gives an empty text instead of reaching before its start.
template <class C>
std::basic_string_view<C> StripQuotes(std::basic_string_view<C> text) {
    if (text.empty() || text.front() != C('"')) return text;
    if (text.size() < 2) return {};
    return text.substr(1, text.size() - 2);
}

// Splits at every ",", also inside quotes, into at most `limit` fields; the text after the
// limit-th field's comma is dropped. Returns the number of fields taken; the others are empty.
template <class C>
int SplitFields(std::basic_string_view<C> line, Fields<C>& fields, int limit) {
    fields.fill({});
    limit = std::min(limit, kMaxFields);
    int count = 0;
    size_t position = 0;
    while (count < limit) {
        const size_t comma = line.find(C(','), position);
        if (comma == std::basic_string_view<C>::npos) {
            fields[++count] = StripQuotes(line.substr(position));
            break;
        }
        fields[++count] = StripQuotes(line.substr(position, comma - position));
        position = comma + 1;
    }
    return count;
}

// Appends text to out, with spaces in front up to width characters.
template <class C>
void AppendPadLeft(std::basic_string<C>& out, std::basic_string_view<C> text, size_t width) {
    if (text.size() < width) out.append(width - text.size(), C(' '));
    out.append(text);
}

template <class C>
std::basic_string<C> PadLeft(std::basic_string_view<C> text, size_t width) {
    std::basic_string<C> out;
    AppendPadLeft(out, text, width);
    return out;
}

// The numeric value of a text as the log's readers take it: leading blanks, an optional
// sign, then the digits up to the first other character; no digits gives 0. Absurdly long
// digit runs saturate instead of overflowing.
template <class C>
int64_t NumericValue(std::basic_string_view<C> text) {
    constexpr int64_t kCap = std::numeric_limits<int64_t>::max() / 10 - 10;
    size_t i = 0;
    while (i < text.size() && (text[i] == C(' ') || text[i] == C('\t'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == C('-') || text[i] == C('+'))) {
        negative = text[i] == C('-');
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= C('0') && text[i] <= C('9'); ++i) {
        if (value < kCap) value = value * 10 + static_cast<int64_t>(text[i] - C('0'));
    }
    return negative ? -value : value;
}

// Sum that sticks at the ends of the range instead of wrapping.
inline int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return sum;
}

}  // namespace kv::logview

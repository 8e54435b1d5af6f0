// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/cp932.h"

#include "common/cp932_native.h"

namespace kv {
namespace {

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

namespace cp932 {

std::u16string Decode(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    if (IsAscii(bytes)) {
        for (unsigned char c : bytes) out.push_back(static_cast<char16_t>(c));
        return out;
    }
    size_t pos = 0;
    while (pos < bytes.size()) {
        const unsigned char b = static_cast<unsigned char>(bytes[pos]);
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
            ++pos;
            continue;
        }
        const size_t len = (IsLeadByte(b) && pos + 1 < bytes.size()) ? 2 : 1;
        char16_t u[2] = {0, 0};
        const size_t units = native::DecodeChar(bytes.data() + pos, len, u);
        if (units == 0) {
            out.push_back(static_cast<char16_t>(kRawByteBase + b));
            ++pos;  // resynchronise on the next byte
            continue;
        }
        out.append(u, units);
        pos += len;
    }
    return out;
}

std::string Encode(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t ch : text) {
        if (ch < 0x80) {
            out.push_back(static_cast<char>(ch));
            continue;
        }
        if (ch >= kRawByteBase + 0x80 && ch <= kRawByteBase + 0xFF) {
            out.push_back(static_cast<char>(ch - kRawByteBase));
            continue;
        }
        char buf[4];
        const size_t n = native::EncodeChar(ch, buf);
        if (n == 0) {
            out.push_back('?');
            continue;
        }
        out.append(buf, n);
    }
    return out;
}

std::string DecodeToUtf8(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    return Utf16ToUtf8(Decode(bytes));
}

std::string EncodeFromUtf8(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Encode(Utf8ToUtf16(utf8));
}

}  // namespace cp932

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > s.size()) {
                len = 1;
            } else {
                cp = c & (0x7F >> len);
                bool ok = true;
                for (size_t k = 1; k < len; ++k) {
                    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
                    if ((cc & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    cp = (cp << 6) | (cc & 0x3F);
                }
                if (!ok) {
                    cp = 0xFFFD;
                    len = 1;
                }
            }
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view t) {
    std::string out;
    out.reserve(t.size() * 3);
    for (size_t i = 0; i < t.size(); ++i) {
        char32_t cp = t[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 &&
            t[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (t[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace kv

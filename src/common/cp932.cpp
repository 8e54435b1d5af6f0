#include "common/cp932.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace kv {
namespace {

// One converter per direction and thread; iconv_open is too slow to call per line.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert between CP932 and UTF-16LE");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    iconv_t get() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        return cd_;
    }

  private:
    iconv_t cd_;
};

iconv_t Decoder() {
    thread_local Converter c("UTF-16LE", "CP932");
    return c.get();
}
iconv_t Encoder() {
    thread_local Converter c("CP932", "UTF-16LE");
    return c.get();
}

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
    iconv_t cd = Decoder();
    size_t pos = 0;
    while (pos < bytes.size()) {
        const unsigned char b = static_cast<unsigned char>(bytes[pos]);
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
            ++pos;
            continue;
        }
        const size_t len = (IsLeadByte(b) && pos + 1 < bytes.size()) ? 2 : 1;
        char in[2] = {bytes[pos], len == 2 ? bytes[pos + 1] : '\0'};
        char* inp = in;
        size_t inleft = len;
        char16_t u[2] = {0, 0};
        char* outp = reinterpret_cast<char*>(u);
        size_t outleft = sizeof u;
        const size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
        if (r == static_cast<size_t>(-1) || inleft != 0 || outleft == sizeof u) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out.push_back(static_cast<char16_t>(kRawByteBase + b));
            ++pos;  // resynchronise on the next byte
            continue;
        }
        // Decoded as little-endian UTF-16 units.
        const unsigned char* ub = reinterpret_cast<const unsigned char*>(u);
        const size_t units = (sizeof u - outleft) / 2;
        for (size_t i = 0; i < units; ++i)
            out.push_back(static_cast<char16_t>(ub[2 * i] | (ub[2 * i + 1] << 8)));
        pos += len;
    }
    return out;
}

std::string Encode(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    iconv_t cd = Encoder();
    for (char16_t ch : text) {
        if (ch < 0x80) {
            out.push_back(static_cast<char>(ch));
            continue;
        }
        if (ch >= kRawByteBase + 0x80 && ch <= kRawByteBase + 0xFF) {
            out.push_back(static_cast<char>(ch - kRawByteBase));
            continue;
        }
        unsigned char in[2] = {static_cast<unsigned char>(ch & 0xFF),
                               static_cast<unsigned char>(ch >> 8)};
        char* inp = reinterpret_cast<char*>(in);
        size_t inleft = 2;
        char buf[4];
        char* outp = buf;
        size_t outleft = sizeof buf;
        const size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
        if (r == static_cast<size_t>(-1) || outleft == sizeof buf) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out.push_back('?');
            continue;
        }
        out.append(buf, sizeof buf - outleft);
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

// SPDX-License-Identifier: GPL-3.0-or-later
#include <iconv.h>

#include <stdexcept>

#include "common/cp932_native.h"

namespace kv::cp932::native {
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

}  // namespace

size_t DecodeChar(const char* bytes, size_t len, char16_t out[2]) {
    iconv_t cd = Decoder();
    char in[2] = {bytes[0], len == 2 ? bytes[1] : '\0'};
    char* inp = in;
    size_t inleft = len;
    unsigned char u[4] = {0, 0, 0, 0};
    char* outp = reinterpret_cast<char*>(u);
    size_t outleft = sizeof u;
    const size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    if (r == static_cast<size_t>(-1) || inleft != 0 || outleft == sizeof u) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    // Little-endian UTF-16 units.
    const size_t units = (sizeof u - outleft) / 2;
    for (size_t i = 0; i < units; ++i)
        out[i] = static_cast<char16_t>(u[2 * i] | (u[2 * i + 1] << 8));
    return units;
}

size_t EncodeChar(char16_t ch, char out[4]) {
    iconv_t cd = Encoder();
    unsigned char in[2] = {static_cast<unsigned char>(ch & 0xFF),
                           static_cast<unsigned char>(ch >> 8)};
    char* inp = reinterpret_cast<char*>(in);
    size_t inleft = 2;
    char* outp = out;
    size_t outleft = 4;
    const size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    if (r == static_cast<size_t>(-1) || outleft == 4) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    return 4 - outleft;
}

}  // namespace kv::cp932::native

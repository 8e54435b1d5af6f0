// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One character through the system's converter (cp932_posix.cpp: iconv; cp932_win.cpp: code
// page 932). The raw-byte and ASCII rules around it are the same everywhere (cp932.cpp).
#include <cstddef>

namespace kv::cp932::native {

// len bytes (1, or 2 for a lead byte with its trail) to at most two UTF-16 units; how many, or
// 0 when the bytes are not a character of the code page.
size_t DecodeChar(const char* in, size_t len, char16_t out[2]);
// One UTF-16 unit to at most four bytes; how many, or 0 when the code page lacks it.
size_t EncodeChar(char16_t ch, char out[4]);

}  // namespace kv::cp932::native

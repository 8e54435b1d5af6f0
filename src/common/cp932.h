// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shift-JIS as Windows code page 932, both ways. Bytes to and from the router and every data
// file go through here, so files stay interchangeable with those the Windows program writes.
#include <string>
#include <string_view>

namespace kv::cp932 {

// A byte b (0x80-0xFF) that is not a CP932 character, alone or as the lead byte of an invalid
// pair or cut off at the end, decodes to the private-use character kRawByteBase + b, and that
// character encodes back to the byte: undecodable data survives a round trip. Zero bytes decode
// to U+0000.
inline constexpr char16_t kRawByteBase = 0xF700;
std::u16string Decode(std::string_view bytes);
// Characters the code page lacks become '?'.
std::string Encode(std::u16string_view text);
// True when the character is one of the raw-byte stand-ins above.
constexpr bool IsRawByte(char16_t ch) {
    return ch >= kRawByteBase + 0x80 && ch <= kRawByteBase + 0xFF;
}

std::string DecodeToUtf8(std::string_view bytes);
std::string EncodeFromUtf8(std::string_view utf8);

// True when byte b starts a two-byte character.
constexpr bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace kv::cp932

namespace kv {
// UTF-8 <-> UTF-16 for text inside the program (invalid UTF-8 becomes U+FFFD).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
}  // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The terms every program of the project states, in its about box and after its version.

namespace kv {

// GNU's wording for --version, so packagers and users find what they look for.
inline constexpr const char* kLicenceNotice =
    "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

// Qt is linked dynamically and used under its LGPL, which the about boxes say too. A macro, so
// that the about texts stay single literals.
#define KV_LICENCE_ABOUT                                                                     \
    "ライセンス: GNU GPL 第3版またはそれ以降 (GPL-3.0-or-later)、無保証\n" \
    "Qt 6 は GNU LGPL 第3版の下で使用しています"

}  // namespace kv

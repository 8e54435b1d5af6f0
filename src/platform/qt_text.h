// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text between the cores (UTF-8 std::string) and Qt.
#include <QString>
#include <string>

namespace kv {

inline QString Q(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}
inline std::string S(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace kv

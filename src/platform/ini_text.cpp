// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ini_text.h"

#include <vector>

namespace kv::ini {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;  // a lone half of a pair
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = 0;
        if (c >= 0xC2 && c < 0xE0)
            n = 1;
        else if (c >= 0xE0 && c < 0xF0)
            n = 2;
        else if (c >= 0xF0 && c < 0xF5)
            n = 3;
        else if (c >= 0x80)
            return false;
        for (size_t k = 1; k <= n; ++k)
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n + 1;
    }
    return true;
}

// One logical line: a quoted value and a backslash before a line end carry it over; a ';'
// outside quotes starts a comment. Comment lines are skipped. Returns false at the end.
bool ReadLine(std::string_view data, size_t& pos, std::string_view& line, size_t& equals) {
    const size_t size = data.size();
    bool inQuotes = false;
    equals = std::string_view::npos;
    size_t start = pos;
    while (start < size && IsSpace(data[start])) ++start;
    size_t i = start;
    while (i < size) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && equals == std::string_view::npos) equals = i - 1 - start;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char c = data[i++];
                if (i < size) {
                    const char c2 = data[i];
                    if ((c == '\n' && c2 == '\r') || (c == '\r' && c2 == '\n')) ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
                while (i < size && IsSpace(data[i])) ++i;
                start = i;
                equals = std::string_view::npos;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line = data.substr(start, i - start);
    return !line.empty();
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" and "%UXXXX" stand for one character, "\" for the group separator "/".
std::string UnescapeKey(std::string_view key) {
    std::string out;
    for (size_t i = 0; i < key.size();) {
        const char ch = key[i];
        if (ch == '\\') {
            out += '/';
            ++i;
            continue;
        }
        if (ch != '%' || i + 1 == key.size()) {
            out += ch;
            ++i;
            continue;
        }
        size_t first = i + 1;
        size_t digits = 2;
        if (key[first] == 'U') {
            ++first;
            digits = 4;
        }
        unsigned code = 0;
        bool ok = first + digits <= key.size();
        for (size_t k = 0; ok && k < digits; ++k) {
            const int h = HexValue(key[first + k]);
            ok = h >= 0;
            code = code * 16 + static_cast<unsigned>(h);
        }
        if (!ok) {
            out += '%';
            ++i;
            continue;
        }
        AppendUtf8(out, code);
        i = first + digits;
    }
    return out;
}

void ChopTrailingBlanks(std::string& s, size_t limit) {
    while (s.size() > limit && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
}

// A value: quotes keep blanks and commas, backslash escapes as in C, unquoted commas make a
// list (read back as its items joined by ", ").
std::string UnescapeValue(std::string_view str) {
    std::vector<std::string> items;
    bool isList = false, inQuotes = false, quoted = false;
    std::string current;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < str.size() && (str[i] == ' ' || str[i] == '\t')) ++i;
    };
    skipBlanks();
    size_t chopLimit = 0;
    while (i < str.size()) {
        const char ch = str[i];
        if (ch == '\\') {
            ++i;
            if (i >= str.size()) break;
            const char e = str[i++];
            static constexpr char kEscapes[][2] = {
                {'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
                {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            bool simple = false;
            for (const auto& code : kEscapes)
                if (e == code[0]) {
                    current += code[1];
                    simple = true;
                    break;
                }
            if (!simple) {
                if ((e == 'x' && i < str.size() && HexValue(str[i]) >= 0) ||
                    (e >= '0' && e <= '7')) {
                    const int base = e == 'x' ? 16 : 8;
                    unsigned value = e == 'x' ? 0u : static_cast<unsigned>(e - '0');
                    for (; i < str.size(); ++i) {
                        const int d = HexValue(str[i]);
                        if (d < 0 || d >= base) break;
                        value = (value * static_cast<unsigned>(base) + static_cast<unsigned>(d)) &
                                0xFFFF;
                    }
                    AppendUtf8(current, value);
                } else if ((e == '\n' || e == '\r') && i < str.size() &&
                           (str[i] == '\n' || str[i] == '\r') && str[i] != e) {
                    ++i;
                }
            }
            chopLimit = current.size();
            continue;
        }
        if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = current.size();
            }
            continue;
        }
        if (ch == ',' && !inQuotes) {
            if (!quoted) ChopTrailingBlanks(current, chopLimit);
            isList = true;
            items.push_back(std::move(current));
            current.clear();
            quoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
            continue;
        }
        size_t j = i + 1;
        while (j < str.size() && str[j] != '\\' && str[j] != '"' && str[j] != ',') ++j;
        current.append(str.substr(i, j - i));
        i = j;
    }
    if (!quoted) ChopTrailingBlanks(current, chopLimit);
    auto plain = [](std::string s) {
        // Qt's typed values ("@ByteArray(...)"); a text that begins with "@" is written "@@".
        if (s.rfind("@@", 0) == 0) return s.substr(1);
        if (s.rfind("@ByteArray(", 0) == 0 && s.back() == ')') return s.substr(11, s.size() - 12);
        if (s.rfind("@String(", 0) == 0 && s.back() == ')') return s.substr(8, s.size() - 9);
        if (s.rfind("@", 0) == 0 && s.back() == ')') return std::string();
        return s;
    };
    if (!isList) return plain(std::move(current));
    items.push_back(std::move(current));
    std::string joined;
    for (size_t k = 0; k < items.size(); ++k) {
        if (k) joined += ", ";
        joined += items[k].rfind("@@", 0) == 0 ? items[k].substr(1) : items[k];
    }
    return joined;
}

bool SaneName(std::string_view name) {
    if (name.empty() || !ValidUtf8(name)) return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

void EscapeKey(std::string_view key, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : key) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/') {
            out += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '_' || c == '-' || c == '.') {
            out += c;
        } else if (u < 0x80) {
            out += '%';
            out += kHex[u / 16];
            out += kHex[u % 16];
        } else {
            // Our names are ASCII; anything else stays as it was read, in UTF-8.
            out += c;
        }
    }
}

void EscapeValue(std::string_view value, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    const size_t start = out.size();
    if (!value.empty() && value.front() == '@') out += '@';
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ';' || c == ',' || c == '=') needsQuotes = true;
        if (escapeNextIfHex && HexValue(c) >= 0) {
            out += "\\x";
            out += kHex[u / 16];
            out += kHex[u % 16];
            continue;
        }
        escapeNextIfHex = false;
        switch (c) {
            case '\0':
                out += "\\0";
                escapeNextIfHex = true;
                break;
            case '\a': out += "\\a"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\v': out += "\\v"; break;
            case '"':
            case '\\':
                out += '\\';
                out += c;
                break;
            default:
                if (u <= 0x1F) {
                    out += "\\x";
                    if (u >= 16) out += kHex[u / 16];
                    out += kHex[u % 16];
                    escapeNextIfHex = true;
                } else {
                    out += c;
                }
        }
    }
    if (needsQuotes || (out.size() > start && (out[start] == ' ' || out.back() == ' '))) {
        out.insert(start, 1, '"');
        out += '"';
    }
}

}  // namespace

Parsed Parse(std::string_view data) {
    Parsed result;
    if (data.substr(0, 3) == "\xEF\xBB\xBF") {
        result.byteOrderMark = true;
        data.remove_prefix(3);
    }
    std::string group;
    size_t pos = 0;
    std::string_view line;
    size_t equals = 0;
    while (ReadLine(data, pos, line, equals)) {
        if (line.front() == '[') {
            const size_t close = line.find(']');
            std::string_view name = line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            while (!name.empty() && IsSpace(name.front())) name.remove_prefix(1);
            while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
            const std::string unescaped = UnescapeKey(name);
            if (close == std::string_view::npos || !SaneName(unescaped)) {
                // Keys under a broken header would land in the wrong place: skipped with it.
                ++result.junkLines;
                group = "\x01";
                continue;
            }
            if (unescaped == "General" || unescaped == "general")
                group.clear();
            else
                group = unescaped + "/";
            continue;
        }
        std::string_view key =
            equals == std::string_view::npos ? std::string_view() : line.substr(0, equals);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
        const std::string name = UnescapeKey(key);
        const std::string_view raw =
            equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
        if (equals == std::string_view::npos || !SaneName(name) || group == "\x01" ||
            !ValidUtf8(raw) || raw.find('\0') != std::string_view::npos) {
            ++result.junkLines;
            continue;
        }
        result.values[group + name] = UnescapeValue(raw);
    }
    return result;
}

std::string Format(const std::map<std::string, std::string>& values) {
    std::map<std::string, std::vector<std::pair<std::string, const std::string*>>> groups;
    for (const auto& [name, value] : values) {
        const size_t slash = name.find('/');
        if (slash == std::string::npos)
            groups[""].push_back({name, &value});
        else
            groups[name.substr(0, slash)].push_back({name.substr(slash + 1), &value});
    }
    std::string out;
    auto section = [&out](const std::string& header, const auto& keys) {
        if (!out.empty()) out += '\n';
        out += '[';
        out += header;
        out += "]\n";
        for (const auto& [key, value] : keys) {
            EscapeKey(key, out);
            out += '=';
            EscapeValue(*value, out);
            out += '\n';
        }
    };
    if (const auto general = groups.find(""); general != groups.end())
        section("General", general->second);
    for (const auto& [group, keys] : groups) {
        if (group.empty()) continue;
        std::string header;
        EscapeKey(group, header);
        section(header, keys);
    }
    return out;
}

}  // namespace kv::ini

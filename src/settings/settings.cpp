// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings.h"

#include <cmath>

#include "common/cp932.h"

namespace kv {

const std::array<IntKey, 26> kSetupIntKeys = {{
    {"seca", &Settings::seca},           {"secb", &Settings::secb},
    {"secc", &Settings::secc},           {"ctanni", &Settings::ctanni},
    {"cnctno", &Settings::cnctno},       {"atcuttm", &Settings::atcuttm},
    {"atcutmode", &Settings::atcutmode}, {"atcutdly", &Settings::atcutdly},
    {"telstday", &Settings::telstday},   {"teldiscnt", &Settings::teldiscnt},
    {"teleho", &Settings::teleho},       {"sohoint", &Settings::sohoint},
    {"soho2int", &Settings::soho2int},   {"dspint", &Settings::dspint},
    {"dsptop", &Settings::dsptop},       {"dsptrans", &Settings::dsptrans},
    {"dspinfo", &Settings::dspinfo},     {"linecut", &Settings::linecut},
    {"winmodes", &Settings::winmodes},   {"winmodec", &Settings::winmodec},
    {"winmodedc", &Settings::winmodedc}, {"hvmode", &Settings::hvmode},
    {"dosuumode", &Settings::dosuumode}, {"sohotime", &Settings::sohotime},
    {"sohokcode", &Settings::sohokcode}, {"debuglog", &Settings::debuglog},
}};

const std::array<IntKey, 5> kExtraIntKeys = {{
    {"notify", &Settings::notify},
    {"traytip", &Settings::traytip},
    {"autostart", &Settings::autostart},
    {"notraynote", &Settings::notraynote},
    {"closenote", &Settings::closenote},
}};

const std::array<const char*, 25> kExportIntKeyNames = {
    "seca",      "secb",     "secc",      "ctanni",   "cnctno",   "atcuttm",   "atcutmode",
    "atcutdly",  "telstday", "teldiscnt", "teleho",   "sohoint",  "soho2int",  "dspint",
    "dsptop",    "dsptrans", "dspinfo",   "winmodes", "winmodec", "winmodedc", "hvmode",
    "dosuumode", "sohotime", "sohokcode", "debuglog"};

std::string RunnerKey(std::string_view base, int slot) {
    std::string key(base);
    if (slot != 0) key += std::to_string(slot);
    return key;
}

std::string SectionName(std::string_view appKey, std::string_view word) {
    std::string s(appKey);
    s += '\\';
    s += word;
    return s;
}

ParsedInt ParseSettingInt(std::string_view text) {
    ParsedInt r;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    double whole = 0;
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (whole < 1e12) whole = whole * 10 + (text[i] - '0');
        digits = true;
        ++i;
    }
    double fraction = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        double scale = 0.1;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            fraction += (text[i] - '0') * scale;
            scale /= 10;
            digits = true;
            ++i;
        }
    }
    if (!digits) return r;
    r.hasNumber = true;
    double v = whole + fraction;
    // Round half to even, as the integer conversion of the original does.
    double rounded = std::nearbyint(v);  // default rounding mode is to-nearest-even
    if (negative) rounded = -rounded;
    if (rounded > 32767) {
        r.value = 32767;
        r.inRange = false;
    } else if (rounded < -32768) {
        r.value = -32768;
        r.inRange = false;
    } else {
        r.value = static_cast<int16_t>(rounded);
    }
    return r;
}

std::string FormatSettingInt(int16_t value) {
    return std::to_string(value);
}

namespace {

// Code-page code of one character: 0..0xFF single byte, else lead << 8 | trail.
std::optional<int> CodeOf(char16_t ch) {
    if (cp932::IsRawByte(ch)) return ch - cp932::kRawByteBase;
    const std::string bytes = cp932::Encode(std::u16string_view(&ch, 1));
    if (bytes == "?" && ch != u'?') return std::nullopt;
    if (bytes.size() == 1) return static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 2)
        return (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
    return std::nullopt;
}

std::optional<char16_t> CharOf(int code) {
    if (code < 0) return std::nullopt;
    if (code < 0x80) return static_cast<char16_t>(code);
    if (code <= 0xFF) {
        if (code >= 0xA1 && code <= 0xDF) {
            const char b = static_cast<char>(code);
            return cp932::Decode(std::string_view(&b, 1))[0];
        }
        return static_cast<char16_t>(cp932::kRawByteBase + code);
    }
    if (code > 0xFFFF) return std::nullopt;
    const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    const std::u16string d = cp932::Decode(std::string_view(bytes, 2));
    if (d.size() != 1 || cp932::IsRawByte(d[0])) return std::nullopt;
    return d[0];
}

}  // namespace

std::optional<std::string> ScramblePassword(int direction, const std::string& text) {
    const std::u16string in = Utf8ToUtf16(text);
    std::u16string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const int shift = static_cast<int>(i) + 1 + 2;
        const std::optional<int> code = CodeOf(in[i]);
        if (!code) return std::nullopt;
        const std::optional<char16_t> ch = CharOf(direction == 1 ? *code + shift : *code - shift);
        if (!ch) return std::nullopt;
        out.push_back(*ch);
    }
    return Utf16ToUtf8(out);
}

std::string StoredPasswordFromBytes(std::string_view bytes) {
    std::u16string out;
    for (const char b : bytes) out.push_back(*CharOf(static_cast<unsigned char>(b)));
    return Utf16ToUtf8(out);
}

bool PasswordIsStorable(const std::string& plain) {
    const std::optional<std::string> scrambled = ScramblePassword(1, plain);
    return scrambled && StoredPasswordFromBytes(cp932::EncodeFromUtf8(*scrambled)) == *scrambled;
}

HolidayArray SplitHolidays(const std::string& holiday) {
    HolidayArray table;
    const std::u16string h = Utf8ToUtf16(holiday);
    for (int i = 0; i < kHolidayEntries; ++i) {
        const size_t start = static_cast<size_t>(i) * 5;
        if (start >= h.size()) break;
        const std::u16string part = h.substr(start, 5);
        if (part.find_first_not_of(u' ') == std::u16string::npos) continue;  // spaces only: empty
        table[i] = Utf16ToUtf8(part);
    }
    return table;
}

std::string JoinHolidays(const HolidayArray& table) {
    std::u16string out;
    for (int i = 0; i < kHolidayEntries; ++i) {
        const std::u16string e = Utf8ToUtf16(table[i]);
        if (e.size() < 5) out.append(5 - e.size(), u' ');
        out += e;
    }
    return Utf16ToUtf8(out);
}

std::optional<std::pair<int, int>> ParseHolidayEntry(const std::string& entry) {
    const size_t slash = entry.find('/');
    if (slash == std::string::npos) return std::nullopt;
    auto number = [](std::string_view s) -> std::optional<int> {
        size_t b = s.find_first_not_of(' ');
        size_t e = s.find_last_not_of(' ');
        if (b == std::string_view::npos) return std::nullopt;
        s = s.substr(b, e - b + 1);
        if (s.empty() || s.size() > 2) return std::nullopt;
        int v = 0;
        for (char c : s) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + (c - '0');
        }
        return v;
    };
    const auto m = number(std::string_view(entry).substr(0, slash));
    const auto d = number(std::string_view(entry).substr(slash + 1));
    if (!m || !d) return std::nullopt;
    // Any year will do for the check except that 2/29 must be allowed: use a leap year.
    if (!IsValidDate(2000, *m, *d)) return std::nullopt;
    return std::make_pair(*m, *d);
}

void ApplyFirstRunValues(Settings& s) {
    s.seca = 180;
    s.secb = 180;
    s.secc = 240;
    s.ctanni = 10;
    s.atcuttm = 30;
    s.atcutmode = 1;
    s.atcutdly = 3;
    s.sohoint = 2000;
    s.soho2int = 2000;
    s.dspint = 1000;
    s.sohoip = "192.168.0.1";
}

std::string LoadStringSetting(SettingsStore& store, std::string_view word, std::string_view key,
                              std::string_view appKey) {
    return store.Read(kApplication, SectionName(appKey, word), std::string(key)).value_or("");
}

int16_t LoadIntSetting(SettingsStore& store, std::string_view word, std::string_view key,
                       std::string* problem, std::string_view appKey) {
    const std::string text = LoadStringSetting(store, word, key, appKey);
    const ParsedInt p = ParseSettingInt(text);
    if (!p.inRange && problem) *problem = std::string(key) + "=" + text;
    return p.value;
}

bool SaveStringSetting(SettingsStore& store, std::string_view word, std::string_view key,
                       const std::string& text, std::string_view appKey) {
    return store.Write(kApplication, SectionName(appKey, word), std::string(key), text);
}

bool SaveIntSetting(SettingsStore& store, std::string_view word, std::string_view key,
                    int16_t value, std::string_view appKey) {
    return SaveStringSetting(store, word, key, FormatSettingInt(value), appKey);
}

void SettingsBatch::String(std::string_view word, std::string_view key, const std::string& text) {
    values_.push_back({SectionName(appKey_, word), std::string(key), text});
}

void SettingsBatch::Int(std::string_view word, std::string_view key, int16_t value) {
    String(word, key, FormatSettingInt(value));
}

bool SettingsBatch::Commit(SettingsStore& store) const {
    return store.WriteAll(kApplication, values_);
}

}  // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
#include "maint/export_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "common/cp932.h"
#include "common/data_file.h"
#include "maint/maint_context.h"
#include "settings/settings.h"

namespace kv::maint {

namespace fs = std::filesystem;

namespace {

std::string Describe(const std::error_code& ec) {
    return ec ? " (" + ec.message() + ")" : "";
}

// No export file comes near this; a larger one is not read into memory at all.
constexpr uintmax_t kLargestFile = 64u << 20;

// Whole file as bytes; nullopt when it cannot be read.
std::optional<std::string> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return bytes;
}

// Japanese written in UTF-8 (three-byte sequences) rather than the file's code page. CP932 text
// almost never forms them; the half-width kana of CP932 can form two-byte ones, so those pass.
bool LooksLikeUtf8(std::string_view line) {
    bool threeByte = false;
    for (size_t i = 0; i < line.size();) {
        const auto c = static_cast<unsigned char>(line[i]);
        size_t n = 0;
        if (c < 0x80)
            n = 0;
        else if (c >= 0xC2 && c < 0xE0)
            n = 1;
        else if (c >= 0xE0 && c < 0xF0)
            n = 2;
        else if (c >= 0xF0 && c < 0xF5)
            n = 3;
        else
            return false;
        for (size_t k = 1; k <= n; ++k)
            if (i + k >= line.size() || (static_cast<unsigned char>(line[i + k]) & 0xC0) != 0x80)
                return false;
        if (n >= 2) threeByte = true;
        i += n + 1;
    }
    return threeByte;
}

// Lines end with CR LF; a bare LF (a file edited elsewhere) ends a line as well. CR and LF are
// never the second byte of a CP932 character, so splitting the bytes is safe.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!last && !line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

FileIoResult Failure(std::string message) {
    FileIoResult r;
    r.ok = false;
    r.message = std::move(message);
    return r;
}

FileIoResult ReadFile(MaintContext& cx) {
    const fs::path path = datafile::FsPath(ExportFilePath(cx));
    const std::string name = ExportFileName(cx);
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st))
        return Failure(name + " が見つかりません。読込を中止しました\n" + datafile::Utf8Path(path));
    std::optional<std::string> bytes;
    if (fs::is_regular_file(st)) {
        if (fs::file_size(path, ec) > kLargestFile)
            return Failure(name + " は大きすぎます (" + std::to_string(kLargestFile) +
                           " バイトまで)。読込を中止しました");
        bytes = ReadBytes(path);
    }
    if (!bytes)
        return Failure(name + " を読み込めません。読込を中止しました\n" + datafile::Utf8Path(path));

    const std::vector<std::string> lines = SplitLines(*bytes);
    if (lines.size() < static_cast<size_t>(kExportLines))
        return Failure(name + " は " + std::to_string(lines.size()) + " 行しかありません (" +
                       std::to_string(kExportLines) + " 行必要です)。読込を中止しました");
    // Trailing empty lines are an editor's; anything else past the last value is not ours.
    for (size_t i = kExportLines; i < lines.size(); ++i)
        if (!lines[i].empty() && lines[i] != "\r")
            return Failure(name + " の " + std::to_string(i + 1) +
                           " 行目: " + std::to_string(kExportLines) +
                           " 行より後に値があります。読込を中止しました");

    // Fill a copy first so that a bad line leaves the record as it was.
    Settings loaded = cx.settings;
    const auto fields = FieldsInFileOrder(loaded);
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldRef& f = fields[i];
        const std::string at = name + " の " + std::to_string(i + 1) + " 行目 (" + f.key + ") ";
        if (i == 0 && lines[i].rfind("\xEF\xBB\xBF", 0) == 0)
            return Failure(at + "の先頭に UTF-8 のバイト順マーク (BOM) があります。" +
                           "ファイルは CP932 (Shift_JIS) で BOM なしで保存してください。" +
                           "読込を中止しました");
        if (lines[i].find('\0') != std::string::npos)
            return Failure(at + "に NUL 文字が含まれています。読込を中止しました");
        if (lines[i].size() > ExportLineLimit(f.key))
            return Failure(at + "が長すぎます (" + std::to_string(lines[i].size()) + " バイト、" +
                           std::to_string(ExportLineLimit(f.key)) +
                           " バイトまで)。読込を中止しました");
        if (f.text && f.key != "sohowp" && LooksLikeUtf8(lines[i]))
            return Failure(at + "は UTF-8 で書かれています。ファイルは CP932 (Shift_JIS) で" +
                           "保存してください。読込を中止しました");
        if (f.text && lines[i].find('\r') != std::string::npos)
            return Failure(at + "に改行文字 (CR) が含まれています。読込を中止しました");
        if (f.text) {
            // The password line is bytes, not text: decoded as text, a scrambled lead byte
            // would swallow the character after it.
            *f.text = f.key == "sohowp" ? StoredPasswordFromBytes(lines[i])
                                        : cp932::DecodeToUtf8(lines[i]);
            continue;
        }
        const ExportInt v = ParseExportInt(lines[i]);
        const std::string where = name + " の " + std::to_string(i + 1) + " 行目 (" + f.key + ")";
        if (!v.isNumber) return Failure(where + " が数値ではありません。読込を中止しました");
        if (!v.inRange)
            return Failure(where + " の値が範囲外です (-32768 から 32767)。読込を中止しました");
        *f.number = v.value;
    }
    cx.settings = std::move(loaded);
    return {};
}

FileIoResult WriteFile(MaintContext& cx) {
    const fs::path path = datafile::FsPath(ExportFilePath(cx));
    const std::string name = ExportFileName(cx);
    FileIoResult result;
    std::string bytes;
    for (const FieldRef& f : FieldsInFileOrder(cx.settings)) {
        if (!f.text) {
            bytes += FormatExportInt(*f.number);
        } else {
            // A line break inside a value would shift every later line of the file.
            if (f.text->find_first_of("\r\n") != std::string::npos)
                return Failure(f.key + " の値に改行が含まれているため " + name +
                               " に保存できません。保存を中止しました");
            bytes += cp932::EncodeFromUtf8(*f.text);
        }
        bytes += "\r\n";
    }

    result.lossyKeys = LossyKeys(cx.settings);

    // A temporary file renamed over the old one: a failed write never leaves a torn file. The
    // file holds the router password (scrambled only): it is the user's alone.
    fs::path temp = path;
    temp += ".tmp";
    const std::string cannot = name + " を保存できません。保存を中止しました\n";
    std::error_code ec;
    bool opened = false;
    if (!datafile::WritePrivate(datafile::Utf8Path(temp), bytes, &opened)) {
        if (!opened)
            return Failure(cannot + datafile::Utf8Path(path.parent_path()) + " に書き込めません");
        fs::remove(temp, ec);
        return Failure(cannot + datafile::Utf8Path(temp) + " に書き込めません");
    }
    fs::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return Failure(cannot + datafile::Utf8Path(path) + " を置き換えられません" + Describe(ec));
    }
    return result;
}

}  // namespace

std::string ExportFilePath(const MaintContext& cx) {
    if (!cx.ExportFile.empty()) return cx.ExportFile;
    // Beside the program; where that cannot be written (an installed copy), with Kestrovan's
    // records in the user's own folder.
    const datafile::DataFolder folder =
        datafile::ChooseDataFolder(cx.ProgramDir, cx.PerUserDataFolder, /*create=*/true);
    return datafile::Utf8Path(datafile::FsPath(folder.path) / kExportFileName);
}

std::string ExportFileName(const MaintContext& cx) {
    return datafile::Utf8Path(datafile::FsPath(ExportFilePath(cx)).filename());
}

size_t ExportLineLimit(const std::string& key) {
    if (key == "sohoip") return 255;  // a host name at its longest
    if (key == "sohowp") return 64;
    if (key == "holiday") return 21 * 5;
    if (key.rfind("runid", 0) == 0) return 4096;  // a path at its longest
    if (key == "ver" || key == "Main") return 256;
    return 32;  // a number
}

std::vector<std::string> LossyKeys(Settings& s) {
    std::vector<std::string> keys;
    for (const FieldRef& f : FieldsInFileOrder(s)) {
        if (!f.text) continue;
        const std::string encoded = cp932::EncodeFromUtf8(*f.text);
        const std::string back =
            f.key == "sohowp" ? StoredPasswordFromBytes(encoded) : cp932::DecodeToUtf8(encoded);
        if (back != *f.text) keys.push_back(f.key);
    }
    return keys;
}

std::string FormatExportInt(int16_t value) {
    const int v = value;
    return (v < 0 ? "-" : " ") + std::to_string(v < 0 ? -v : v) + " ";
}

ExportInt ParseExportInt(std::string_view line) {
    ExportInt r;
    size_t b = line.find_first_not_of(' ');
    if (b == std::string_view::npos) return r;
    const size_t e = line.find_last_not_of(' ');
    std::string_view s = line.substr(b, e - b + 1);
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return r;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return r;
        if (v <= 100000) v = v * 10 + (c - '0');  // enough to tell out of range
    }
    r.isNumber = true;
    if (negative) v = -v;
    if (v < -32768 || v > 32767) return r;
    r.inRange = true;
    r.value = static_cast<int16_t>(v);
    return r;
}

FileIoResult SettingsFileIo(MaintContext& cx, int direction) {
    return direction == 1 ? ReadFile(cx) : WriteFile(cx);
}

}  // namespace kv::maint

// SPDX-License-Identifier: GPL-3.0-or-later
#include "maint/commands.h"

#include "common/data_file.h"
#include "common/licence.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "maint/export_file.h"
#include "settings/settings.h"

namespace kv::maint {

namespace fs = std::filesystem;

const char* const kAboutText =
    "Pelvaro 1.01\n"
    "Kestrovan用レジストリ保守\n"
    " \n"
    "作者: Kestrovan 開発チーム\n" KV_LICENCE_ABOUT
    "\n"
    "連絡先・不具合の報告: 同梱の README.md の「連絡先」をご覧ください";

namespace {

bool Ask(MaintContext& cx, const std::string& question) {
    return cx.view.MessageBox(question, kQuestionTitle, MsgIcon::Question, MsgButtons::YesNo) ==
           MsgResult::Yes;
}

void Report(MaintContext& cx, const std::string& text) {
    cx.view.MessageBox(text, kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
}

void Warn(MaintContext& cx, const std::string& text) {
    cx.view.MessageBox(text, kProgramTitle, MsgIcon::Exclamation, MsgButtons::Ok);
}

std::string JoinLines(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& i : items) s += "\n" + i;
    return s;
}

void WarnRangeAndLoss(MaintContext& cx, const std::vector<std::string>& clamped,
                      const std::vector<std::string>& lossy) {
    if (!clamped.empty())
        Warn(cx, "次の値は範囲外のため -32768 から 32767 に丸めて扱いました:" + JoinLines(clamped));
    if (!lossy.empty())
        Warn(cx, "次の値は " + ExportFileName(cx) +
                     " に書けない文字を含むため、読込で元の値に戻りません:" + JoinLines(lossy));
}

std::string RegistryWriteFailure(MaintContext& cx, const std::string& where) {
    const std::string why = cx.store.LastError();
    return "レジストリ (" + where + ") に書き込めません" + (why.empty() ? "" : " (" + why + ")") +
           "。";
}

// Settings that are there but cannot be read are never taken for none: the reason, or empty.
std::string UnreadableSettings(MaintContext& cx, const char* appKey) {
    const std::string why = cx.store.Unreadable(kApplication, appKey);
    return why.empty() ? why : "レジストリ情報を読み込めません (" + why + ")。";
}

// The conversion's failures before Kestrovan's sections are complete: nothing or only the export
// file has changed, and Orlavine's settings are kept.
void StopConversion(MaintContext& cx, const std::string& why, const std::string& state) {
    Warn(cx, (why.empty() ? "" : why + "\n") + "変換を中止しました。" + state);
}

// source to target: a rename, or on another file system a copy that is on the disk and read back
// the same before the original goes. Empty when done, else the system's reason; a failed copy
// leaves nothing behind.
std::string MoveDataFile(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    fs::rename(source, target, ec);
    if (!ec) return {};
    std::string bytes;
    if (datafile::ReadAll(datafile::Utf8Path(source), bytes) != datafile::ReadResult::Ok)
        return std::strerror(errno);
    fs::path part = target;
    part += ".part";
    const std::string partPath = datafile::Utf8Path(part);
    auto failed = [&part](int error) {
        std::error_code ignored;
        fs::remove(part, ignored);
        return std::string(std::strerror(error));
    };
    if (!datafile::WritePrivate(partPath, bytes)) return failed(errno);
    std::string back;
    if (datafile::ReadAll(partPath, back) != datafile::ReadResult::Ok || back != bytes)
        return failed(EIO);
    fs::rename(part, target, ec);
    if (ec) return failed(ec.value());
    fs::remove(source, ec);
    if (ec) return "写しましたが元のファイルを消せません: " + ec.message();
    return {};
}

// Changing the settings under a running Kestrovan is undone at its end: it must be closed first.
bool KestrovanClosed(MaintContext& cx, const char* what) {
    if (!cx.KestrovanRunning || !cx.KestrovanRunning()) return true;
    if (cx.GoOnWhileRunning) {
        Warn(cx, std::string(kKestrovanRunningText) + " (--yes のため続けます)");
        return true;
    }
    Warn(cx, std::string(kKestrovanRunningText) + what + "を中止しました");
    return false;
}

}  // namespace

bool IsUpgradeCommandLine(const std::string& commandLine) {
    std::string lower = commandLine;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower == "upgrade";
}

void Form_Load(MaintContext& cx, const std::string& commandLine) {
    cx.view.SetConvVisible(IsUpgradeCommandLine(commandLine));
}

bool CmdSave_Click(MaintContext& cx) {
    // A backup of nothing must not replace a good one.
    if (const std::string why = UnreadableSettings(cx, kAppKey); !why.empty()) {
        Warn(cx, why + "保存を中止しました。" + ExportFileName(cx) + " は変更していません");
        return false;
    }
    std::vector<std::string> clamped;
    SettingsRegistryCopy(cx, 2, nullptr, &clamped);
    const FileIoResult w = SettingsFileIo(cx, 2);
    if (!w.ok) {
        Warn(cx, w.message);
        return false;
    }
    Report(cx, "保存しました");
    WarnRangeAndLoss(cx, clamped, w.lossyKeys);
    return true;
}

bool CmdLoad_Click(MaintContext& cx) {
    if (!Ask(cx, "読み込みます")) return false;
    if (!KestrovanClosed(cx, "読込")) return false;
    const FileIoResult r = SettingsFileIo(cx, 1);
    if (!r.ok) {
        Warn(cx, r.message);
        return false;
    }
    std::string where;
    if (!SettingsRegistryCopy(cx, 1, &where)) {
        Warn(cx,
             RegistryWriteFailure(cx, where) + "読込を中止しました。レジストリは変更していません");
        return false;
    }
    Report(cx, "読込ました");
    return true;
}

bool CmdDel_Click(MaintContext& cx) {
    if (!Ask(cx, "削除します")) return false;
    if (!KestrovanClosed(cx, "削除")) return false;
    if (const std::string why = UnreadableSettings(cx, kAppKey); !why.empty()) {
        Warn(cx, why + "削除を中止しました");
        return false;
    }
    switch (DeleteAllSettings(cx)) {
        case DeleteResult::Deleted: Report(cx, "削除しました"); return true;
        case DeleteResult::NothingStored: Warn(cx, "削除するレジストリ情報がありません"); break;
        case DeleteResult::Failed: {
            const std::string why = cx.store.LastError();
            Warn(cx,
                 "レジストリ情報を削除できませんでした" + (why.empty() ? "" : " (" + why + ")"));
            break;
        }
    }
    return false;
}

bool CmdConv_Click(MaintContext& cx) {
    if (!Ask(cx, "OrlavineからKestrovanへ変換しますか？")) return false;
    if (!KestrovanClosed(cx, "変換")) return false;
    cx.ConvertMode = true;
    struct ModeOff {
        MaintContext& c;
        ~ModeOff() { c.ConvertMode = false; }
    } modeOff{cx};

    if (const std::string why = UnreadableSettings(cx, kOldAppKey); !why.empty()) {
        StopConversion(cx, "Orlavine の" + why, "何も変更していません");
        return false;
    }
    // Without Orlavine's settings the conversion would overwrite Kestrovan's with blanks.
    if (!cx.store.HasAppKey(kApplication, kOldAppKey)) {
        StopConversion(cx, "Orlavine のレジストリ情報がありません。", "何も変更していません");
        return false;
    }
    std::vector<std::string> clamped;
    SettingsRegistryCopy(cx, 2, nullptr, &clamped);
    // Values the file cannot carry would arrive changed while Orlavine's are deleted: the user
    // hears of them first and may stop with nothing changed.
    const std::vector<std::string> lossy = LossyKeys(cx.settings);
    if (!lossy.empty() &&
        cx.view.MessageBox(
            "次の値は " + ExportFileName(cx) +
                " に書けない文字を含むため、変換すると元の値と変わります:" + JoinLines(lossy) +
                "\n変換を続けますか？",
            kQuestionTitle, MsgIcon::Question, MsgButtons::YesNoDefaultNo) != MsgResult::Yes) {
        StopConversion(cx, "", "何も変更していません");
        return false;
    }
    const FileIoResult w = SettingsFileIo(cx, 2);
    if (!w.ok) {
        StopConversion(cx, w.message, "レジストリは変更していません");
        return false;
    }
    const FileIoResult r = SettingsFileIo(cx, 1);
    if (!r.ok) {
        StopConversion(cx, r.message,
                       ExportFileName(cx) +
                           " は Orlavine の値で書き換えましたが、レジストリは変更していません");
        return false;
    }
    std::string where;
    if (!SettingsRegistryCopy(cx, 1, &where)) {
        StopConversion(cx, RegistryWriteFailure(cx, where),
                       "Kestrovan のレジストリは変更していません。Orlavine "
                       "のレジストリ情報とデータファイルはそのまま残しています");
        return false;
    }

    // From here Kestrovan's settings are complete. Orlavine's files go first: only when all of
    // them are where Kestrovan will read them are Orlavine's settings deleted, so a conversion
    // stopped by a full disk can simply be run again.
    std::vector<std::string> problems;
    bool filesMoved = true;
    static constexpr const char* kRenames[][2] = {{"orlavine.dbg", "Kestrovan.dbg"},
                                                  {"orlavine.log", "Kestrovan.log"},
                                                  {"orlavine.dat", "Kestrovan.dat"}};
    // Where Kestrovan will look for them: here, unless its folder cannot be written.
    const datafile::DataFolder data =
        datafile::ChooseDataFolder(cx.ProgramDir, cx.PerUserDataFolder, /*create=*/true);
    const fs::path targetFolder = datafile::FsPath(data.perUser ? data.path : cx.CurrentDir);
    for (const auto& [from, to] : kRenames) {
        const fs::path source = datafile::FsPath(cx.CurrentDir) / from;
        const fs::path target = targetFolder / to;
        const std::string named = data.perUser ? datafile::Utf8Path(target) : std::string(to);
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(source, ec))) continue;
        // Never overwrite Kestrovan's own data: keep both files and say so.
        if (fs::exists(fs::symlink_status(target, ec))) {
            problems.push_back(
                std::string(from) + " は " + named +
                " が既にあるため名前を変えていません (両方のファイルを残しています)");
            continue;
        }
        const std::string why = MoveDataFile(source, target);
        if (why.empty()) continue;
        filesMoved = false;
        problems.push_back(std::string(from) + " を " + named + " に移せませんでした (" + why +
                           ")。元のファイルはそのまま残しています");
    }
    if (!filesMoved)
        problems.push_back(
            "Orlavine のレジストリ情報は残しています。空きを作ってからもう一度変換し"
            "てください");
    else if (DeleteAllSettings(cx) != DeleteResult::Deleted)
        problems.push_back("Orlavine のレジストリ情報を削除できませんでした (残っています)");

    if (problems.empty()) {
        Report(cx, "変換が終了しました");
    } else {
        Warn(cx, "設定は Kestrovan へ変換しましたが、次の処理はできませんでした:" +
                     JoinLines(problems));
    }
    // The lossy values were agreed to above.
    WarnRangeAndLoss(cx, clamped, {});
    return problems.empty();
}

void CmdEnd_Click(MaintContext& cx) {
    cx.view.EndProgram();
}

void mnuVer_Click(MaintContext& cx) {
    cx.view.MessageBox(kAboutText, kAboutTitle, MsgIcon::Information, MsgButtons::Ok);
}

}  // namespace kv::maint

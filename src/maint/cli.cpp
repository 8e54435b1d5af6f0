// SPDX-License-Identifier: GPL-3.0-or-later
#include "maint/cli.h"

#include <filesystem>
#include <ostream>

#include "common/data_file.h"
#include "common/licence.h"
#include "maint/commands.h"
#include "maint/maint_context.h"

namespace kv::maint {

namespace {

constexpr const char* kUsage =
    "使い方: pelvaro [--yes] コマンド\n"
    "  --save [FILE]   Kestrovan の設定を FILE に保存します\n"
    "  --load [FILE]   FILE から Kestrovan の設定を読み込みます\n"
    "  --delete        Kestrovan の設定を削除します\n"
    "  --upgrade       Orlavine の設定とデータファイルを Kestrovan へ変換します\n"
    "                  (データファイルは今のフォルダにあるものです)\n"
    "  --yes           確認にはすべて「はい」と答えます\n"
    "  --help          この説明を表示します\n"
    "  --version       版を表示します\n"
    "FILE の既定はプログラムと同じフォルダの Kestrovan.reg です\n"
    "(そのフォルダに書き込めないときは ~/.local/share/Qel/Kestrovan の Kestrovan.reg)。\n"
    "引数を付けずに起動するとウィンドウを開きます。\n"
    "終了コード: 0 完了, 1 できなかった (または確認に「いいえ」), 2 引数の誤り\n";

// Reports on the terminal instead of boxes; questions go to the user or to --yes.
class TerminalView : public MaintView {
  public:
    TerminalView(CommandLineIo& io, bool yes) : io_(io), yes_(yes) {}
    MsgResult MessageBox(const std::string& text, const std::string&, MsgIcon icon,
                         MsgButtons buttons) override {
        if (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoDefaultNo) {
            if (yes_) {
                io_.out << text << " → はい (--yes)\n";
                return MsgResult::Yes;
            }
            if (io_.ask) {
                if (const std::optional<bool> answer = io_.ask(text)) {
                    if (*answer) return MsgResult::Yes;
                    io_.err << "中止しました\n";
                    return MsgResult::No;
                }
            }
            io_.err << text
                    << "\n確認に答える人がいないため「いいえ」としました (--yes で「はい」)\n";
            return MsgResult::No;
        }
        (icon == MsgIcon::Information ? io_.out : io_.err) << text << "\n";
        return MsgResult::Ok;
    }
    void SetConvVisible(bool) override {}
    void EndProgram() override {}

  private:
    CommandLineIo& io_;
    bool yes_;
};

}  // namespace

bool IsCommandLineMode(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a.rfind("--", 0) == 0) return true;
    return false;
}

int RunCommandLine(const std::vector<std::string>& args, SettingsStore& store,
                   const std::string& programDir, const std::string& currentDir, CommandLineIo io,
                   const std::string& perUserDataFolder, std::function<bool()> kestrovanRunning) {
    std::string command, file;
    bool yes = false;
    auto usageError = [&io](const std::string& what) {
        io.err << "pelvaro: " << what << "\n" << kUsage;
        return 2;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--yes") {
            yes = true;
            continue;
        }
        if (a == "--save" || a == "--load" || a == "--delete" || a == "--upgrade" ||
            a == "--help" || a == "--version") {
            if (!command.empty()) return usageError("コマンドは一つだけ指定してください");
            command = a;
            if ((a == "--save" || a == "--load") && i + 1 < args.size() &&
                args[i + 1].rfind("--", 0) != 0)
                file = args[++i];
            continue;
        }
        return usageError("知らない引数です: " + a);
    }
    if (command.empty()) return usageError("コマンドがありません");
    if (command == "--help") {
        io.out << kUsage;
        return 0;
    }
    if (command == "--version") {
        io.out << "Pelvaro 1.01\n" << kLicenceNotice;
        return 0;
    }

    TerminalView view(io, yes);
    MaintContext cx(store, view, programDir, currentDir);
    cx.PerUserDataFolder = perUserDataFolder;
    cx.KestrovanRunning = std::move(kestrovanRunning);
    cx.GoOnWhileRunning = yes;
    if (!file.empty()) {
        std::filesystem::path p = datafile::FsPath(file);
        if (p.is_relative()) p = datafile::FsPath(currentDir) / p;
        cx.ExportFile = datafile::Utf8Path(p.lexically_normal());
    }
    bool done = false;
    if (command == "--save") done = CmdSave_Click(cx);
    if (command == "--load") done = CmdLoad_Click(cx);
    if (command == "--delete") done = CmdDel_Click(cx);
    if (command == "--upgrade") done = CmdConv_Click(cx);
    return done ? 0 : 1;
}

}  // namespace kv::maint

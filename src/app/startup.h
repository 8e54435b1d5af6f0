// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Start-up and shutdown of the program: Form_Load, InitProgram, Form_QueryUnload.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/context.h"
#include "settings/reg_copy.h"

namespace kv {

// Whether this start may run: the answer of the single-instance lock.
struct InstanceCheck {
    enum Kind {
        Alone,    // this start holds the lock
        Running,  // the user's program runs already (and was asked to show its window)
        NoLock,   // no lock could be had: refused too, since two would meter the same calls
    } kind = Alone;
    std::string why;  // NoLock: the reason, for the user
};

// What only the window layer can do during start-up. Any of them may be empty (tests).
struct FormLoadSteps {
    std::function<InstanceCheck()> AnotherInstanceRunning;  // step 1; refuses unless Alone
    std::function<void()> RestoreWindowPosition;            // creates FormPosition and restores it
    std::function<void()> LoadTrayMenu;                     // FrmMnu, before TrayIn
};

inline constexpr const char* kDataFolderText =
    "プログラムのフォルダーに書き込めないため、通話記録・累積・トレースは次のフォルダーに保存します:";
inline constexpr const char* kSettingsUnreadableText =
    "設定ファイルを読み込めないため終了します (設定は変更していません):";
inline constexpr const char* kNoInstanceLockText =
    "すでに起動されているかどうか確かめられないため終了します";

// " " + args joined by " " + " ", upper case.
std::string BuildCommandLine(const std::vector<std::string>& args);
// Switches stand as whole words with one blank on each side, e.g. " -DEBUG ".
bool HasSwitch(const std::string& commandLine, const std::string& switchWord);

// appDir is the folder holding the program file (no trailing separator).
void Form_Load(Context& cx, const std::vector<std::string>& args, const std::string& appDir,
               const FormLoadSteps& steps);
// What follows the instance check (and the wait of -W): the settings, the window, the tray and
// the login.
void Form_LoadRest(Context& cx, const std::string& appDir, const FormLoadSteps& steps);
void InitProgram(Context& cx, const std::string& appDir);
// The settings record to or from the store; a load also switches the trace as it says.
bool RegCopy(Context& cx, RegCopyDirection direction);

enum class UnloadMode {
    UserClose,  // the close box: the window only hides (Cancel is set)
    Program,    // the menu's "終了", a signal, the end of the session
};
void Form_QueryUnload(Context& cx, bool& Cancel, UnloadMode mode);
void mnuEnd_Click(Context& cx);

// "--check-totals" / "--repair-totals": the totals rebuilt from the call log in dataFolder
// (where the program keeps it), printed beside the totals file's (and, to repair, written over
// it; the old file kept). No window, no router. Returns the exit code: 0 when they agree (or
// were repaired), 1 when they differ, 2 when the file could not be written.
int CheckTotalsCommand(SettingsStore& store, const std::string& dataFolder, bool repair,
                       const LocalTime& now, std::string& out);
void mnuWinend_Click(Context& cx);

}  // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pelvaro without a window, for scripts and backups: one command per run, its reports on the
// terminal, an exit status that says whether it did what was asked.
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/ports.h"

namespace kv::maint {

// Options ("--save" ...) select the command line; no arguments, or the word "upgrade", open
// the window as always.
bool IsCommandLineMode(const std::vector<std::string>& args);

struct CommandLineIo {
    std::ostream& out;  // reports
    std::ostream& err;  // warnings, failures, usage mistakes
    // Asks the user a question when someone is there to answer (a terminal); nullopt when
    // nobody is, and the question is answered no unless --yes was given.
    std::function<std::optional<bool>(const std::string& question)> ask;
};

// Exit status: 0 done, 1 not done (a failure, or a question answered no), 2 a usage mistake.
// FILE arguments are taken from currentDir when relative. perUserDataFolder: where Kestrovan
// keeps its data when the program folder cannot be written (the conversion's target then).
// kestrovanRunning: whether Kestrovan runs now; a load, delete or conversion then stops unless
// --yes is given.
int RunCommandLine(const std::vector<std::string>& args, SettingsStore& store,
                   const std::string& programDir, const std::string& currentDir, CommandLineIo io,
                   const std::string& perUserDataFolder = {},
                   std::function<bool()> kestrovanRunning = {});

}  // namespace kv::maint

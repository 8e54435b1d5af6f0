// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether a person is at a terminal to be asked: standard input and standard error are both
// on one (terminal_posix.cpp, terminal_win.cpp).
namespace kv {

bool PersonAtTerminal();

// A program without a console of its own (Windows' window programs) writes what it says on
// the command line to the console of whoever started it, where its streams are not redirected
// already. Nothing to do elsewhere.
void UseParentConsole();

}  // namespace kv

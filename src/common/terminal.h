// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether a person is at a terminal to be asked: standard input and standard error are both
// on one (terminal_posix.cpp, terminal_win.cpp).
namespace kv {

bool PersonAtTerminal();

}  // namespace kv

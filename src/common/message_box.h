// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The kinds of message box every program part may ask for; the windows decide how they look.
namespace kv {

enum class MsgIcon { None, Information, Exclamation, Critical, Question };
// YesNoDefaultNo: for a question whose Yes gives something up.
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoDefaultNo };
enum class MsgResult { Ok, Cancel, Yes, No };

}  // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The handlers of the tray window FrmMnu's two menus and of the icon's clicks.
#include <cstdint>

#include "app/context.h"

namespace kv {

// Handlers of FrmMnu's menu items and icon clicks.
namespace frm_mnu {
void mnuSOHO_Click(Context& cx);
void mnuInit_Click(Context& cx);
void mnuCutBrk_Click(Context& cx);
void mnuOut_Click(Context& cx);  // also the icon's double-click
// Closes the open record, takes the icon out and has Tmr1Sec unload the main window 100 ms
// later: the line stays up even with linecut 1, as the record is closed before the shutdown.
void mnuEnd_Click(Context& cx);
// 1 connect, 2 disconnect the current channel, 3 the automatic-call switch; only while
// logged in to the router.
void mnuRight_Click(Context& cx, int16_t index);
}  // namespace frm_mnu

}  // namespace kv

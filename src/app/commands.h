// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's command and timer handlers. The window forwards its events here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/context.h"

namespace kv {

inline constexpr int kMainWindowWidthTwips = 1830;
inline constexpr int kTwipsPerPixel = 15;

// The status text, cleared five seconds later.
void ShowHint(Context& cx, const std::string& text);
// Stores one value at once; a failure is traced and shown in the status bar.
bool StoreOneSetting(Context& cx, const char* word, const char* key, int16_t value);
// The router's automatic calling on or off, as the opposite of rmtauto.
void SwitchRemoteAuto(Context& cx);
// "自動切断一時解除": the automatic disconnection suspended, or back.
void ToggleCutBreak(Context& cx);

void BtnConnect_Click(Context& cx);
void BtnDisConnect_Click(Context& cx);
void ChkAutoMode_Click(Context& cx);
// The next height of the size cycle in twips (sizehigh advanced and stored), or nullopt when
// sizehigh is outside 0..4 and the height stays.
std::optional<int> BtnSize_Click(Context& cx);
void ChkTopDsp_Click(Context& cx, int value);
void Lbl3_Click(Context& cx);
void LCD3_Click(Context& cx);
void LCD0_DblClick(Context& cx);
void mnuCutBrk_Click(Context& cx);
void mnuB0_Click(Context& cx);
void mnuB12_Click(Context& cx);
void mnuInit_Click(Context& cx);
void mnuSOHO_Click(Context& cx);
void mnuLOG_Click(Context& cx);
void mnuHELP_Click(Context& cx);
// The help page beside the program, else the first one in folders; none: the one beside it.
std::string FindHelpPage(const std::string& appPath, const std::vector<std::string>& folders);
void mnuVER_Click(Context& cx);
// A second start of the program asked this one to come forward.
void SecondStart_Request(Context& cx);
void mnuLastInfo_Click(Context& cx);
void BtnMsg_Click(Context& cx);
void BtnDEBUG_Click(Context& cx);
std::string DebugSummary(Context& cx);
std::string AboutText();

// Hands the three timers' ticks to their handlers below.
void WireMainTimers(Context& cx);
void tmrSOHO_Timer(Context& cx);
void tmrDSP_Timer(Context& cx);
// An armed cut falls due before a poll started now would be answered (by the router's recent
// reply times): the poll is left out.
bool PollWouldHoldUpCut(Context& cx);
void Tmr1Sec_Timer(Context& cx);

// The hint shown when the mouse is over a control, "" for controls without one.
std::string HintFor(const std::string& controlName);

}  // namespace kv

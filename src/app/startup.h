#pragma once
// Start-up and shutdown of the program: Form_Load, InitProgram, Form_QueryUnload.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/context.h"

namespace kv {

// What only the window layer can do during start-up. Any of them may be empty (tests).
struct FormLoadSteps {
    std::function<bool()> AnotherInstanceRunning;  // step 1; true refuses this start
    std::function<void()> RestoreWindowPosition;   // creates FormPosition and restores it
    std::function<void()> LoadTrayMenu;            // FrmMnu, before TrayIn
};

// " " + args joined by " " + " ", upper case.
std::string BuildCommandLine(const std::vector<std::string>& args);
// Switches stand as whole words with one blank on each side, e.g. " -DEBUG ".
bool HasSwitch(const std::string& commandLine, const std::string& switchWord);

// appDir is the folder holding the program file (no trailing separator).
void Form_Load(Context& cx, const std::vector<std::string>& args, const std::string& appDir,
               const FormLoadSteps& steps);
int16_t InitProgram(Context& cx, const std::string& appDir);

// UnloadMode 0: the user closed the window (hide, Cancel = 1). Anything else ends the program.
void Form_QueryUnload(Context& cx, int16_t& Cancel, int16_t UnloadMode);
void mnuEnd_Click(Context& cx);
void mnuWinend_Click(Context& cx);

}  // namespace kv

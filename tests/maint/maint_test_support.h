// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A recording view and a context on fakes for Pelvaro's handlers.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "maint/commands.h"
#include "support/fakes.h"

namespace kv::maint::test {

class RecordingMaintView : public MaintView {
  public:
    struct Box {
        std::string text, title;
        MsgIcon icon;
        MsgButtons buttons;
    };
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override {
        boxes.push_back({text, title, icon, buttons});
        if (buttons != MsgButtons::YesNo && buttons != MsgButtons::YesNoDefaultNo)
            return MsgResult::Ok;
        if (!noTo.empty() && text.find(noTo) != std::string::npos) return MsgResult::No;
        return answerYes ? MsgResult::Yes : MsgResult::No;
    }
    void SetConvVisible(bool visible) override { convVisible = visible; }
    void EndProgram() override { ended = true; }

    std::string last() const { return boxes.empty() ? "" : boxes.back().text; }
    std::vector<Box> boxes;
    bool answerYes = true;
    std::string noTo;  // questions holding this text are answered no
    bool convVisible = false;
    bool ended = false;
};

struct MaintRig {
    MaintRig()
        : dir(kv::test::MakeTempDir()),
          programDir(dir + "/bin"),
          currentDir(dir + "/cwd"),
          cx(store, view, programDir, currentDir) {
        std::filesystem::create_directories(programDir);
        std::filesystem::create_directories(currentDir);
    }
    ~MaintRig() { kv::test::RemoveTree(dir); }
    MaintRig(const MaintRig&) = delete;
    MaintRig& operator=(const MaintRig&) = delete;

    std::string regPath() const { return programDir + "/Kestrovan.reg"; }

    std::string dir, programDir, currentDir;
    kv::test::MemorySettingsStore store;
    RecordingMaintView view;
    MaintContext cx;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace kv::maint::test

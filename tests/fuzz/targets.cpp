// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/targets.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "accounting/call_meter.h"
#include "app/context.h"
#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"
#include "logview/dsp_log.h"
#include "logview/log_text.h"
#include "maint/commands.h"
#include "maint/export_file.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_transport.h"
#include "support/test_rig.h"

namespace kv::fuzz {
namespace {

std::string Bytes(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// One rig per process: a fresh temporary folder per input would dominate the run time.
test::TestRig& Rig() {
    static test::TestRig rig;
    return rig;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Cuts the input at 0xFF bytes into up to n parts.
std::vector<std::string> Parts(const std::string& in, size_t n) {
    std::vector<std::string> out(1);
    for (char c : in) {
        if (static_cast<unsigned char>(c) == 0xFF && out.size() < n)
            out.emplace_back();
        else
            out.back() += c;
    }
    out.resize(n);
    return out;
}

class NullMaintView : public maint::MaintView {
  public:
    MsgResult MessageBox(const std::string&, const std::string&, MsgIcon, MsgButtons) override {
        return MsgResult::Yes;
    }
    void SetConvVisible(bool) override {}
    void EndProgram() override {}
};

}  // namespace

int StatusReport(const uint8_t* data, size_t size) {
    test::TestRig& rig = Rig();
    Context& cx = rig.cx;
    cx.link.StatusForTest() = RouterStatus{};
    cx.settings.atcuttm = 30;
    cx.settings.atcutmode = 1;
    cx.link.StateForTest().ReplyText = cp932::Decode(Bytes(data, size));
    cx.link.ParseChannelStatus(1);
    cx.link.UpdateAutoCutState(1);
    cx.link.ParseChannelStatus(2);
    cx.link.UpdateAutoCutState(2);
    for (int16_t ch = 0; ch <= 2; ++ch) cx.link.ShowChannelStatus(ch);
    // ExtractField with markers taken from the input itself.
    const std::vector<std::string> p = Parts(Bytes(data, size), 4);
    std::u16string out;
    const int16_t start = static_cast<int16_t>(size % 40) - 3;
    ExtractField(start, cp932::Decode(p[0]), cp932::Decode(p[1]), cp932::Decode(p[2]),
                 cp932::Decode(p[3]), out);
    return 0;
}

int ShowTime(const uint8_t* data, size_t size) {
    const std::u16string reply = cp932::Decode(Bytes(data, size));
    const std::optional<int32_t> secs = link::ReadRouterClock(reply);
    if (secs && (*secs < 0 || *secs > 86399)) __builtin_trap();
    return 0;
}

int ReceiveChunks(const uint8_t* data, size_t size) {
    // First byte: segment size; the rest arrives through the notification handler.
    if (size == 0) return 0;
    // A context of its own (no data files), so each input starts on a fresh loop.
    test::FakeEventLoop loop;
    test::MemorySettingsStore store;
    test::RecordingView view;
    test::FakeExit exit;
    test::FakeRunner runner;
    test::FakeShell shell;
    const auto tmrSOHO = loop.MakeTimer(), tmrDSP = loop.MakeTimer(), tmr1Sec = loop.MakeTimer(),
               tmrRetry = loop.MakeTimer();
    test::ScriptedTransport transport(loop);
    Context cx(Ports{loop, loop, store, transport, *tmrSOHO, *tmrDSP, *tmr1Sec, *tmrRetry, view,
                     runner, shell, exit});
    transport.segment = data[0] % 64;
    // Opening the link connects and registers its socket-event handler.
    cx.settings.sohoip = "127.0.0.1";
    cx.link.OpenLink();
    cx.link.StateForTest().PendingReceives = 1;
    transport.DeliverBytes(Bytes(data + 1, size - 1));
    loop.Advance(100000);
    // Nothing beyond what arrived may be appended: every character is a decoded byte or a
    // filler behind one.
    if (cx.link.State().ReplyText.size() > 2 * size + 8192) __builtin_trap();
    return 0;
}

int TotalsFile(const uint8_t* data, size_t size) {
    test::TestRig& rig = Rig();
    Context& cx = rig.cx;
    cx.meter.TotalsForTest() = ChargeTotals{};
    cx.settings.telstday = static_cast<int16_t>(size % 33);
    WriteFile(cx.meter.DataPath(), Bytes(data, size));
    cx.meter.DatFileIO(DatFileMode::Read);
    const ChargeTotals& t = cx.meter.Totals();
    if (t.DayUnits < 0 && t.MonthUnits < 0 && t.PrevMonthUnits < 0 && size == 0) __builtin_trap();
    // A bad file is set aside; keep the folder from filling up over a long run.
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(rig.dir, ec))
        if (e.path().filename().string().rfind("Kestrovan.dat", 0) == 0)
            std::filesystem::remove(e.path(), ec);
    return 0;
}

int CallLog(const uint8_t* data, size_t size) {
    const std::string bytes = Bytes(data, size);
    logview::Fields<char> fields;
    logview::SplitFields<char>(bytes, fields, 10);
    test::TestRig& rig = Rig();
    const std::string& logPath = rig.cx.meter.LogPath();
    WriteFile(logPath, bytes);
    logview::DspLog1(logPath);
    for (int kind = 1; kind <= 4; ++kind) logview::DspLog2(logPath, kind);
    return 0;
}

int SettingInt(const uint8_t* data, size_t size) {
    const std::string text = Bytes(data, size);
    const ParsedInt p = ParseSettingInt(text);
    if (p.inRange && !p.hasNumber && p.value != 0) __builtin_trap();
    const std::string utf8 = cp932::DecodeToUtf8(text);
    if (const auto plain = ScramblePassword(2, utf8)) {
        // A password that reads back as plain ASCII must store again as what was read. (Kanji
        // of the code page's duplicated extension rows come back under their other code, as
        // with any conversion through Unicode.)
        const auto again = ScramblePassword(1, *plain);
        const bool ascii = std::all_of(plain->begin(), plain->end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii && (!again || *again != utf8)) __builtin_trap();
    }
    SplitHolidays(utf8);
    ParseHolidayEntry(utf8);
    return 0;
}

int ExportFile(const uint8_t* data, size_t size) {
    test::TestRig& rig = Rig();
    NullMaintView view;
    maint::MaintContext mx(rig.store, view, rig.dir, rig.dir);
    WriteFile(maint::ExportFilePath(mx), Bytes(data, size));
    const maint::Settings before = mx.settings;
    const maint::FileIoResult r = maint::SettingsFileIo(mx, 1);
    (void)before;
    (void)r;
    maint::ParseExportInt(Bytes(data, size));
    return 0;
}

const std::vector<Target>& AllTargets() {
    static const std::vector<Target> targets = {
        {"status", StatusReport},   {"showtime", ShowTime}, {"receive", ReceiveChunks},
        {"totals", TotalsFile},     {"calllog", CallLog},   {"settingint", SettingInt},
        {"exportfile", ExportFile},
    };
    return targets;
}

}  // namespace kv::fuzz

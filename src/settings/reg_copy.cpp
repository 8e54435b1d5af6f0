#include "settings/reg_copy.h"

#include "app/trace.h"

namespace kv {

namespace {
void Problem(Context& cx, const std::string& what) { WriteTrace(cx, 3, "setting err:" + what); }
}  // namespace

bool RegCopy(Context& cx, int direction) {
    WriteTrace(cx, 4, "RegCopy-st");
    SettingsStore& st = *cx.ports.store;
    Settings& s = cx.settings;
    if (direction == 1) {
        bool ok = SaveStringSetting(st, "Setup", "sohoip", s.sohoip);
        const std::optional<std::string> scrambled = ScramblePassword(1, s.sohowp);
        if (scrambled) {
            ok &= SaveStringSetting(st, "Setup", "sohowp", *scrambled);
        } else {
            ok = false;
            Problem(cx, "sohowp cannot be scrambled; not stored");
        }
        for (const IntKey& k : kSetupIntKeys) ok &= SaveIntSetting(st, "Setup", k.name, s.*k.field);
        s.holiday = JoinHolidays(s.HolidayTable);
        ok &= SaveStringSetting(st, "Setup", "holiday", s.holiday);
        for (int i = 0; i < kRunnerSlots; ++i) {
            ok &= SaveStringSetting(st, "Setup", RunnerKey("runid", i), s.runid[i]);
            ok &= SaveIntSetting(st, "Setup", RunnerKey("runenab", i), s.runenab[i]);
            ok &= SaveIntSetting(st, "Setup", RunnerKey("runstop", i), s.runstop[i]);
        }
        s.ver = kVersionText;
        ok &= SaveStringSetting(st, "Variant", "ver", s.ver);
        ok &= SaveIntSetting(st, "Variant", "sizehigh", s.sizehigh);
        ok &= SaveIntSetting(st, "Variant", "rmtauto", s.rmtauto);
        if (!ok) Problem(cx, "the settings could not all be stored");
        WriteTrace(cx, 4, "RegCopy-end");
        return ok;
    }

    std::string problem;
    auto loadInt = [&](const char* word, const std::string& key) {
        problem.clear();
        const int16_t v = LoadIntSetting(st, word, key, &problem);
        if (!problem.empty()) Problem(cx, "out of range " + problem);
        return v;
    };
    s.sohoip = LoadStringSetting(st, "Setup", "sohoip");
    const std::string stored = LoadStringSetting(st, "Setup", "sohowp");
    const std::optional<std::string> plain = ScramblePassword(2, stored);
    if (plain) {
        s.sohowp = *plain;
    } else {
        s.sohowp.clear();
        Problem(cx, "sohowp cannot be read back");
    }
    for (const IntKey& k : kSetupIntKeys) s.*k.field = loadInt("Setup", k.name);
    s.holiday = LoadStringSetting(st, "Setup", "holiday");
    if (s.holiday.empty()) s.holiday = kDefaultHolidays;
    s.HolidayTable = SplitHolidays(s.holiday);
    for (int i = 0; i < kRunnerSlots; ++i) {
        s.runid[i] = LoadStringSetting(st, "Setup", RunnerKey("runid", i));
        s.runenab[i] = loadInt("Setup", RunnerKey("runenab", i));
        s.runstop[i] = loadInt("Setup", RunnerKey("runstop", i));
    }
    s.sizehigh = loadInt("Variant", "sizehigh");
    s.rmtauto = loadInt("Variant", "rmtauto");
    if (cx.ports.view) {
        cx.ports.view->SetCheckBox(CheckBox::ChkAutoMode, s.rmtauto);
        cx.ports.view->SetMenuChecked(MenuItem::TrayRight3, s.rmtauto != 1);
    }
    WriteTrace(cx, 4, "RegCopy-end");
    return true;
}

}  // namespace kv

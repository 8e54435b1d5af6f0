// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/reg_copy.h"

namespace kv {

bool RegCopy(SettingsStore& st, Settings& s, Trace& trace, RegCopyDirection direction,
             std::string* clampedOut) {
    auto Problem = [&trace](const std::string& what) { trace.Error("setting err:" + what); };
    trace.Step("RegCopy-st");
    if (direction == RegCopyDirection::Store) {
        // One write for the whole record: on failure the store keeps the record it had.
        SettingsBatch batch;
        bool ok = true;
        batch.String("Setup", "sohoip", s.sohoip);
        const std::optional<std::string> scrambled = ScramblePassword(1, s.sohowp);
        if (scrambled) {
            batch.String("Setup", "sohowp", *scrambled);
        } else {
            ok = false;
            Problem("sohowp cannot be scrambled; not stored");
        }
        for (const IntKey& k : kSetupIntKeys) batch.Int("Setup", k.name, s.*k.field);
        s.holiday = JoinHolidays(s.HolidayTable);
        batch.String("Setup", "holiday", s.holiday);
        for (int i = 0; i < kRunnerSlots; ++i) {
            batch.String("Setup", RunnerKey("runid", i), s.runid[i]);
            batch.Int("Setup", RunnerKey("runenab", i), s.runenab[i]);
            batch.Int("Setup", RunnerKey("runstop", i), s.runstop[i]);
        }
        s.ver = kVersionText;
        batch.String("Variant", "ver", s.ver);
        batch.Int("Variant", "sizehigh", s.sizehigh);
        batch.Int("Variant", "rmtauto", s.rmtauto);
        // Written once switched on: a user who never turns them on keeps a file without them.
        for (const IntKey& k : kExtraIntKeys)
            if (s.*k.field != 0 || st.Read(kApplication, SectionName(kAppKey, kExtraWord), k.name))
                batch.Int(kExtraWord, k.name, s.*k.field);
        if (!batch.Commit(st)) {
            ok = false;
            const std::string why = st.LastError();
            Problem("the settings could not be stored; the store keeps what it had" +
                    (why.empty() ? std::string() : " (" + why + ")"));
        }
        trace.Step("RegCopy-end");
        return ok;
    }

    std::string problem, clamped;
    auto loadInt = [&](const char* word, const std::string& key) {
        problem.clear();
        const int16_t v = LoadIntSetting(st, word, key, &problem);
        if (!problem.empty()) {
            Problem("out of range " + problem);
            clamped += "\n" + problem + " → " + std::to_string(v);
        }
        return v;
    };
    s.sohoip = LoadStringSetting(st, "Setup", "sohoip");
    const std::string stored = LoadStringSetting(st, "Setup", "sohowp");
    const std::optional<std::string> plain = ScramblePassword(2, stored);
    if (plain) {
        s.sohowp = *plain;
    } else {
        s.sohowp.clear();
        Problem("sohowp cannot be read back");
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
    for (const IntKey& k : kExtraIntKeys) s.*k.field = loadInt(kExtraWord, k.name);
    if (clampedOut) *clampedOut = clamped;
    trace.Step("RegCopy-end");
    return true;
}

}  // namespace kv

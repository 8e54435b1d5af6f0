// SPDX-License-Identifier: GPL-3.0-or-later
#include "maint/maint_settings.h"

#include "maint/maint_context.h"
#include "settings/settings.h"

namespace kv::maint {

namespace {

// Same order as kExportIntKeyNames.
constexpr std::array<int16_t Settings::*, 25> kIntFields = {
    &Settings::seca,     &Settings::secb,      &Settings::secc,      &Settings::ctanni,
    &Settings::cnctno,   &Settings::atcuttm,   &Settings::atcutmode, &Settings::atcutdly,
    &Settings::telstday, &Settings::teldiscnt, &Settings::teleho,    &Settings::sohoint,
    &Settings::soho2int, &Settings::dspint,    &Settings::dsptop,    &Settings::dsptrans,
    &Settings::dspinfo,  &Settings::winmodes,  &Settings::winmodec,  &Settings::winmodedc,
    &Settings::hvmode,   &Settings::dosuumode, &Settings::sohotime,  &Settings::sohokcode,
    &Settings::debuglog};

std::string_view ReadAppKey(const MaintContext& cx) {
    return cx.ConvertMode ? kOldAppKey : kAppKey;
}

}  // namespace

std::array<FieldRef, kExportLines> FieldsInFileOrder(Settings& s) {
    std::array<FieldRef, kExportLines> f;
    size_t n = 0;
    f[n++] = {"Setup", "sohoip", &s.sohoip, nullptr};
    f[n++] = {"Setup", "sohowp", &s.sohowp, nullptr};
    for (size_t i = 0; i < kIntFields.size(); ++i)
        f[n++] = {"Setup", kExportIntKeyNames[i], nullptr, &(s.*kIntFields[i])};
    f[n++] = {"Setup", "holiday", &s.holiday, nullptr};
    for (int slot = 0; slot < kRunnerSlots; ++slot) {
        const auto i = static_cast<size_t>(slot);
        f[n++] = {"Setup", RunnerKey("runid", slot), &s.runid[i], nullptr};
        f[n++] = {"Setup", RunnerKey("runenab", slot), nullptr, &s.runenab[i]};
        f[n++] = {"Setup", RunnerKey("runstop", slot), nullptr, &s.runstop[i]};
    }
    f[n++] = {"Variant", "ver", &s.ver, nullptr};
    f[n++] = {"Variant", "sizehigh", nullptr, &s.sizehigh};
    f[n++] = {"Variant", "rmtauto", nullptr, &s.rmtauto};
    f[n++] = {"FormPos", "Main", &s.Main, nullptr};
    return f;
}

bool SettingsRegistryCopy(MaintContext& cx, int direction, std::string* problem,
                          std::vector<std::string>* warnings) {
    const auto fields = FieldsInFileOrder(cx.settings);
    if (direction == 1) {
        // Writes always go to Kestrovan's sections, also during a conversion; all in one write,
        // so a failure leaves Kestrovan's settings as they were.
        SettingsBatch batch(kAppKey);
        for (const FieldRef& f : fields) {
            if (f.text)
                batch.String(f.word, f.key, *f.text);
            else
                batch.Int(f.word, f.key, *f.number);
        }
        if (batch.Commit(cx.store)) return true;
        if (problem) *problem = kAppKey;
        return false;
    }
    const std::string_view app = ReadAppKey(cx);
    for (const FieldRef& f : fields) {
        if (f.text) {
            *f.text = LoadStringSetting(cx.store, f.word, f.key, app);
        } else {
            std::string outOfRange;
            *f.number = LoadIntSetting(cx.store, f.word, f.key, &outOfRange, app);
            if (!outOfRange.empty() && warnings)
                warnings->push_back(SectionName(app, f.word) + " の " + outOfRange);
        }
    }
    return true;
}

DeleteResult DeleteAllSettings(MaintContext& cx) {
    const std::string app(ReadAppKey(cx));
    // Settings that cannot be read are there all the same: not "nothing to delete".
    if (!cx.store.Unreadable(kApplication, app).empty()) return DeleteResult::Failed;
    if (!cx.store.HasAppKey(kApplication, app)) return DeleteResult::NothingStored;
    return cx.store.DeleteAppKey(kApplication, app) ? DeleteResult::Deleted : DeleteResult::Failed;
}

}  // namespace kv::maint

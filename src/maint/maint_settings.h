// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pelvaro's own copy of the settings record and the whole-record registry copy. It differs from
// Kestrovan's record: no linecut, the password stays scrambled, holiday stays raw, ver is an
// ordinary string, and the main window position is carried along.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ports.h"

namespace kv::maint {

inline constexpr int kExportLines = 44;

struct Settings {
    // section "Setup"
    std::string sohoip;
    std::string sohowp;  // scrambled, exactly as stored
    int16_t seca = 0, secb = 0, secc = 0, ctanni = 0, cnctno = 0, atcuttm = 0, atcutmode = 0,
            atcutdly = 0, telstday = 0, teldiscnt = 0, teleho = 0, sohoint = 0, soho2int = 0,
            dspint = 0, dsptop = 0, dsptrans = 0, dspinfo = 0, winmodes = 0, winmodec = 0,
            winmodedc = 0, hvmode = 0, dosuumode = 0, sohotime = 0, sohokcode = 0, debuglog = 0;
    std::string holiday;  // raw
    std::array<std::string, 6> runid;
    std::array<int16_t, 6> runenab{};
    std::array<int16_t, 6> runstop{};
    // section "Variant"
    std::string ver;
    int16_t sizehigh = 0;
    int16_t rmtauto = 0;
    // section "FormPos"
    std::string Main;

    bool operator==(const Settings&) const = default;
};

// One value of the record with its place in the registry; the array is in export file order.
struct FieldRef {
    const char* word;  // "Setup", "Variant" or "FormPos"
    std::string key;
    std::string* text = nullptr;  // exactly one of text / number is set
    int16_t* number = nullptr;
};
std::array<FieldRef, kExportLines> FieldsInFileOrder(Settings& s);

struct MaintContext;

// Direction 1 writes the record into Kestrovan's sections, all values or none (on failure
// problem names what could not be written, returns false). Any other direction reads the record
// from Kestrovan's sections, or Orlavine's while ConvertMode is on; it always succeeds, and
// values out of 16-bit range (clamped) are listed in warnings.
bool SettingsRegistryCopy(MaintContext& cx, int direction, std::string* problem = nullptr,
                          std::vector<std::string>* warnings = nullptr);

// Deletes "Kestrovan" (or "Orlavine" while ConvertMode is on) under the application key.
enum class DeleteResult { Deleted, NothingStored, Failed };
DeleteResult DeleteAllSettings(MaintContext& cx);

}  // namespace kv::maint

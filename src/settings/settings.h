// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings record, its keys and sections, and the single-value store operations. These
// definitions are shared with the maintenance tool.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ports.h"

namespace kv {

inline constexpr const char* kApplication = "Qel";
inline constexpr const char* kAppKey = "Kestrovan";
inline constexpr const char* kOldAppKey = "Orlavine";
inline constexpr const char* kVersionText = "Ver 0.66β";
inline constexpr const char* kDefaultHolidays =
    " 1/ 1 1/15 2/11 4/29 5/ 3 5/ 4 5/ 5 7/20 9/1510/1011/ 311/2312/23";
inline constexpr int kHolidayEntries = 18;  // entries 0..17 are used; the table has room for 21
inline constexpr int kRunnerSlots = 4;
// The section word of the program's own additions.
inline constexpr const char* kExtraWord = "Extra";

using HolidayArray = std::array<std::string, 21>;

struct Settings {
    // section "Setup", in load and store order
    std::string sohoip;
    std::string sohowp;  // plain text in memory, scrambled in the store
    int16_t seca = 0, secb = 0, secc = 0, ctanni = 0, cnctno = 0, atcuttm = 0, atcutmode = 0,
            atcutdly = 0, telstday = 0, teldiscnt = 0, teleho = 0, sohoint = 0, soho2int = 0,
            dspint = 0, dsptop = 0, dsptrans = 0, dspinfo = 0, linecut = 0, winmodes = 0,
            winmodec = 0, winmodedc = 0, hvmode = 0, dosuumode = 0, sohotime = 0, sohokcode = 0,
            debuglog = 0;
    std::string holiday;
    HolidayArray HolidayTable;  // the master copy while the program runs
    std::array<std::string, 6> runid;
    std::array<int16_t, 6> runenab{};
    std::array<int16_t, 6> runstop{};
    // section "Variant"
    int16_t sizehigh = 0;
    int16_t rmtauto = 0;
    std::string ver;
    // section "Extra": additions of this program, each off (0) by default; Pelvaro does not
    // carry them.
    int16_t notify = 0;     // desktop notifications of calls, automatic cuts and the router link
    int16_t traytip = 0;    // the tray tip also shows the line, the call's time and charge
    int16_t autostart = 0;  // started at logon ("ログオン時に起動")
    // "次回から表示しない" of the two notes about the tray: no notification area at start, and
    // the window closed to the tray (the program goes on running there).
    int16_t notraynote = 0;
    int16_t closenote = 0;
};

struct IntKey {
    const char* name;
    int16_t Settings::*field;
};
// The integers of section "Setup" from seca to debuglog, in table order (linecut included).
extern const std::array<IntKey, 26> kSetupIntKeys;
// The integers of section "Extra".
extern const std::array<IntKey, 5> kExtraIntKeys;
// The same names without linecut, in the maintenance tool's export order (25 names).
extern const std::array<const char*, 25> kExportIntKeyNames;

// "runid" + "" / "1" / "2" / "3": slot 0 carries no digit.
std::string RunnerKey(std::string_view base, int slot);
// appKey + "\" + word, e.g. "Kestrovan\Setup".
std::string SectionName(std::string_view appKey, std::string_view word);

// The leading-number rule: leading blanks skipped, optional sign, digits and a fraction,
// rounded half to even; no number gives 0. A number outside -32768..32767 is clamped and
// reported through inRange = false so the caller can say so.
struct ParsedInt {
    int16_t value = 0;
    bool hasNumber = false;
    bool inRange = true;
};
ParsedInt ParseSettingInt(std::string_view text);
std::string FormatSettingInt(int16_t value);  // "180", "-1"

// Direction 1 scrambles, any other unscrambles. Works on code-page character codes, shifting
// the code of the character at position p (from 1) by p + 2. A shifted single-byte code that
// has no character of its own is kept as a raw-byte stand-in, so every printable password
// round-trips. Returns nullopt for a character whose shifted code leaves the code page.
std::optional<std::string> ScramblePassword(int direction, const std::string& text);
// The scrambled password as a file holds it (code-page bytes), read back one byte per
// character, as the scrambling makes them: a stand-in for a lone lead byte must not merge with
// the byte after it.
std::string StoredPasswordFromBytes(std::string_view bytes);
// A password the store keeps and a saved settings file gives back unchanged: one whose
// scrambled characters are all single bytes.
bool PasswordIsStorable(const std::string& plain);

// Entry i is the 5 characters from 5*i (characters, not bytes); entries of spaces only are empty.
HolidayArray SplitHolidays(const std::string& holiday);
// Entries 0..17, each right-aligned in 5 characters (an empty entry as 5 spaces).
std::string JoinHolidays(const HolidayArray& table);
// Parses an entry "MM/DD" (blanks allowed). nullopt for an empty entry or one that is not a
// real month/day.
std::optional<std::pair<int, int>> ParseHolidayEntry(const std::string& entry);

// What start-up puts into an empty record on the first run.
void ApplyFirstRunValues(Settings& s);

// Single-value access, application "Qel", section appKey + "\" + word.
std::string LoadStringSetting(SettingsStore& store, std::string_view word, std::string_view key,
                              std::string_view appKey = kAppKey);
// problem receives a description when the stored text was out of range (value clamped).
int16_t LoadIntSetting(SettingsStore& store, std::string_view word, std::string_view key,
                       std::string* problem = nullptr, std::string_view appKey = kAppKey);
bool SaveStringSetting(SettingsStore& store, std::string_view word, std::string_view key,
                       const std::string& text, std::string_view appKey = kAppKey);
bool SaveIntSetting(SettingsStore& store, std::string_view word, std::string_view key,
                    int16_t value, std::string_view appKey = kAppKey);

// The values of a whole-record store, handed to the store together: all are stored or none.
class SettingsBatch {
  public:
    explicit SettingsBatch(std::string_view appKey = kAppKey) : appKey_(appKey) {}
    void String(std::string_view word, std::string_view key, const std::string& text);
    void Int(std::string_view word, std::string_view key, int16_t value);
    bool Commit(SettingsStore& store) const;

  private:
    std::string appKey_;
    std::vector<SettingsStore::Value> values_;
};

}  // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
// The settings in the real registry (Wine's on Linux), under a scratch key of the test's own.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "../maint/maint_test_support.h"
#include "common/win_text.h"
#include "platform/registry_settings_store.h"
#include "settings/settings.h"

namespace kv {
namespace {

// HKCU\Software\KestrovanTest-<pid>, gone again afterwards.
class RegistryStore : public ::testing::Test {
  protected:
    RegistryStore()
        : root_("Software\\KestrovanTest-" + std::to_string(::GetCurrentProcessId())),
          store(root_) {}
    ~RegistryStore() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, Wide(root_).c_str()); }

    // A value as a person or another program would have put it there.
    void PutRaw(const std::string& section, const std::string& name, DWORD type, const void* data,
                DWORD size) {
        HKEY k = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(root_ + "\\Qel\\" + section).c_str(), 0,
                                    nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(k, Wide(name).c_str(), 0, type, static_cast<const BYTE*>(data), size);
        ::RegCloseKey(k);
    }

    std::string root_;
    RegistrySettingsStore store;
};

TEST_F(RegistryStore, ValuesComeBackAsWrittenEachUnderItsSection) {
    const std::vector<SettingsStore::Value> record = {
        {"Kestrovan\\Setup", "sohoip", "127.0.0.1"},
        {"Kestrovan\\Setup", "sohowp", " g,\"x"},
        {"Kestrovan\\Setup", "holiday", " 1/ 1 1/15"},
        {"Kestrovan\\Setup", "runid", "C:\\Program Files\\ダイヤル,通知.exe"},
        {"Kestrovan\\Setup", "runid1", ""},
        {"Kestrovan\\Variant", "ver", "Ver 0.66β"},
        {"Kestrovan\\FormPos", "Main", "10,20,300,400"}};
    ASSERT_TRUE(store.WriteAll(kApplication, record));
    for (const auto& v : record) EXPECT_EQ(store.Read(kApplication, v.section, v.key), v.value);
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Variant", "sohoip"), std::nullopt);
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "seca"), std::nullopt);
    EXPECT_EQ(store.Read(kApplication, "Orlavine\\Setup", "sohoip"), std::nullopt);
    EXPECT_EQ(store.Location(kApplication, kAppKey),
              "HKEY_CURRENT_USER\\" + root_ + "\\Qel\\Kestrovan");

    // Hand-made values: a number, a string without its final zero, and a kind nobody reads.
    const DWORD number = 180;
    PutRaw("Kestrovan\\Setup", "seca", REG_DWORD, &number, sizeof number);
    const wchar_t unterminated[] = {L'1', L'2', L'0'};
    PutRaw("Kestrovan\\Setup", "secb", REG_SZ, unterminated, sizeof unterminated);
    PutRaw("Kestrovan\\Setup", "secc", REG_BINARY, "\x01\x02", 2);
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "seca"), "180");
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "secb"), "120");
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "secc"), std::nullopt);
}

TEST_F(RegistryStore, ARecordThatCannotBeWrittenWholeLeavesTheRegistryAsItWas) {
    ASSERT_TRUE(store.Write(kApplication, "Kestrovan\\Setup", "sohoip", "10.0.0.1"));
    // A key name longer than the registry allows fails half-way; broken UTF-8 fails at once.
    const std::string tooLong = "Kestrovan\\" + std::string(300, 'x');
    EXPECT_FALSE(store.WriteAll(kApplication, {{"Kestrovan\\Setup", "sohoip", "10.0.0.2"},
                                               {"Kestrovan\\Setup", "seca", "90"},
                                               {tooLong, "k", "v"}}));
    EXPECT_FALSE(store.Write(kApplication, "Kestrovan\\Setup", "sohoip", "\xff\xfe"));
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "sohoip"), "10.0.0.1");
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "seca"), std::nullopt);
}

TEST_F(RegistryStore, DeletingOneApplicationKeyLeavesTheOther) {
    EXPECT_FALSE(store.HasAppKey(kApplication, kAppKey));
    EXPECT_FALSE(store.DeleteAppKey(kApplication, kAppKey));
    ASSERT_TRUE(store.Write(kApplication, "Kestrovan\\Setup", "sohoip", "10.0.0.1"));
    ASSERT_TRUE(store.Write(kApplication, "Kestrovan\\FormPos", "Main", "1,2,3,4"));
    ASSERT_TRUE(store.Write(kApplication, "Orlavine\\Setup", "sohoip", "10.0.0.9"));
    EXPECT_TRUE(store.HasAppKey(kApplication, kAppKey));
    EXPECT_TRUE(store.DeleteAppKey(kApplication, kAppKey));
    EXPECT_FALSE(store.HasAppKey(kApplication, kAppKey));
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\FormPos", "Main"), std::nullopt);
    EXPECT_EQ(store.Read(kApplication, "Orlavine\\Setup", "sohoip"), "10.0.0.9");
}

// Pelvaro's save, delete and load through the registry give back every value, byte for byte.
TEST_F(RegistryStore, PelvaroRoundTripRestoresTrickyValues) {
    const std::string dir = test::MakeTempDir();
    maint::test::RecordingMaintView view;
    maint::MaintContext cx(store, view, dir, dir);
    const std::vector<std::pair<std::string, std::string>> values = {
        {"sohowp", " g,\"x"},
        {"holiday", " 1/ 1 1/15"},
        {"runid1", "C:\\a,b\\通知.exe"},
        {"sohoip", "127.0.0.1"},
        {"seca", "-1"}};
    for (const auto& [k, v] : values) store.Write(kApplication, "Kestrovan\\Setup", k, v);
    store.Write(kApplication, "Kestrovan\\Setup", "linecut", "1");
    store.Write(kApplication, "Kestrovan\\FormPos", "Main", "10,20,300,400");

    maint::CmdSave_Click(cx);
    ASSERT_EQ(view.last(), "保存しました");
    maint::CmdDel_Click(cx);
    ASSERT_EQ(view.last(), "削除しました");
    maint::CmdLoad_Click(cx);
    ASSERT_EQ(view.last(), "読込ました");
    for (const auto& [k, v] : values)
        EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", k), v) << k;
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\FormPos", "Main"), "10,20,300,400");
    EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "linecut"), std::nullopt);
    test::RemoveTree(dir);
}

}  // namespace
}  // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
// Settings that survive what users and their machines do: a password through save, delete and
// load; a disk with no room; stray settings files; Pelvaro run from scripts.
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "common/cp932.h"
#include "common/trace.h"
#include "maint/cli.h"
#include "maint/export_file.h"
#include "maint_test_support.h"
#include "platform/qt_settings_store.h"
#include "settings/reg_copy.h"
#include "support/program_process.h"

extern char** environ;

namespace kv::maint {
namespace {

namespace fs = std::filesystem;
using kv::test::MakeTempDir;
using kv::test::MemorySettingsStore;
using kv::test::RemoveTree;

struct TempDir {
    std::string path = MakeTempDir();
    ~TempDir() { RemoveTree(path); }
};

struct CliRun {
    int status;
    std::string out, err;
};

CliRun RunCli(SettingsStore& store, const std::string& dir, std::vector<std::string> args,
              std::optional<bool> answer = std::nullopt) {
    std::ostringstream out, err;
    const int status = RunCommandLine(args, store, dir, dir,
                                      {out, err, [answer](const std::string&) { return answer; }});
    return {status, out.str(), err.str()};
}

// The built program with its settings under dir/config: no display, its reports on the terminal
// and its exit status. env: more variables, or ones in place of the test's.
CliRun RunPelvaro(const std::string& dir, std::vector<std::string> args,
                  const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string item = *e;
        if (item.rfind("DISPLAY=", 0) && item.rfind("WAYLAND_DISPLAY=", 0) &&
            item.rfind("QT_QPA_PLATFORM=", 0) && item.rfind("XDG_CONFIG_HOME=", 0) &&
            item.rfind("TMPDIR=", 0))
            env.push_back(item);
    }
    env.push_back("XDG_CONFIG_HOME=" + dir + "/config");
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    args.insert(args.begin(), KV_PELVARO_PATH);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = dir + "/out", err = dir + "/err";
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, KV_PELVARO_PATH, &files, nullptr, argv.data(), envp.data()) == 0)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&files);
    return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, kv::test::ReadFile(out),
                  kv::test::ReadFile(err)};
}

// Kestrovan stores the password, Pelvaro saves, deletes and loads, Kestrovan reads it back.
std::string ThroughPelvaro(SettingsStore& store, const std::string& dir,
                           const std::string& password) {
    kv::test::FakeEventLoop clock;
    kv::test::RecordingView view;
    Trace trace(clock, view);
    kv::Settings s;
    s.sohoip = "127.0.0.1";
    s.sohowp = password;
    if (!RegCopy(store, s, trace, RegCopyDirection::Store)) return "<not stored>";
    if (RunCli(store, dir, {"--save"}).status != 0) return "<not saved>";
    if (RunCli(store, dir, {"--delete", "--yes"}).status != 0) return "<not deleted>";
    if (RunCli(store, dir, {"--load", "--yes"}).status != 0) return "<not loaded>";
    kv::Settings back;
    RegCopy(store, back, trace, RegCopyDirection::Load);
    return back.sohowp;
}

TEST(SettingsSurvive, EveryPasswordTheDialogAcceptsComesBackByteForByte) {
    TempDir dir;
    std::mt19937 random(20261207);
    auto password = [&random] {
        std::string pw(std::uniform_int_distribution<size_t>(1, 20)(random), ' ');
        for (char& c : pw)
            c = static_cast<char>(std::uniform_int_distribution<int>(' ', '~')(random));
        return pw;
    };
    // Lead bytes of two-byte characters at every place, and the characters that need quoting.
    std::vector<std::string> passwords = {"~~~~~~~~~~~~~~~~~~~~", "|}~{zyxwvutsrqponmlk",
                                          " ,\"\\;=#", "~a~a~a~a~a~a~a~a~a~a", "ｱｲｳｴｵﾝ"};
    for (int i = 0; i < 2000; ++i) passwords.push_back(password());
    MemorySettingsStore memory;
    kv::QtSettingsStore files(dir.path + "/config");
    int broken = 0;
    for (size_t i = 0; i < passwords.size(); ++i) {
        const std::string& pw = passwords[i];
        ASSERT_TRUE(PasswordIsStorable(pw)) << pw;
        // Every one through the export file; some also through the real settings files.
        for (SettingsStore* store :
             {static_cast<SettingsStore*>(&memory),
              i < 3 || i % 300 == 0 ? static_cast<SettingsStore*>(&files) : nullptr}) {
            if (!store) continue;
            const std::string back = ThroughPelvaro(*store, dir.path, pw);
            // The bytes the login sends are those of the text.
            if (back != pw || cp932::EncodeFromUtf8(back) != cp932::EncodeFromUtf8(pw)) {
                EXPECT_LT(++broken, 5) << "[" << pw << "] came back as [" << back << "]";
            }
        }
    }
    EXPECT_EQ(broken, 0);
    // What the file cannot hold apart is refused by the dialog instead.
    EXPECT_FALSE(PasswordIsStorable("端末"));
}

// A disk with no room for the settings: the last good file stays and the failure is said. Filled by
// a file size limit (any user) and by a small tmpfs (where a test may mount one).
TEST(SettingsSurvive, AFullDiskKeepsTheLastGoodFile) {
    struct Fill {
        const char* name;
        std::function<bool(const std::string& folder)> prepare;  // false: not possible here
        std::function<void(const std::string& folder)> undo;
    };
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const std::vector<Fill> fills = {
        {"file size limit",
         [&](const std::string&) {
             signal(SIGXFSZ, SIG_IGN);
             rlimit small = saved;
             small.rlim_cur = 200;
             return setrlimit(RLIMIT_FSIZE, &small) == 0;
         },
         [&](const std::string&) { setrlimit(RLIMIT_FSIZE, &saved); }},
        {"full tmpfs",
         [](const std::string& folder) {
             // The settings are moved aside, the folder made a tiny file system, the settings
             // put back and the rest filled.
             const std::string keep = folder + ".keep";
             fs::rename(folder, keep);
             fs::create_directory(folder);
             if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
                 fs::remove(folder);
                 fs::rename(keep, folder);
                 return false;
             }
             fs::copy_file(keep + "/Kestrovan.conf", folder + "/Kestrovan.conf");
             fs::remove_all(keep);
             std::ofstream filler(folder + "/filler", std::ios::binary);
             const std::string block(4096, 'x');
             while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
                 filler.flush();
             filler.close();
             return true;
         },
         [](const std::string& folder) {
             fs::copy_file(folder + "/Kestrovan.conf", folder + ".conf.copy");
             ::umount(folder.c_str());
             fs::copy_file(folder + ".conf.copy", folder + "/Kestrovan.conf",
                           fs::copy_options::overwrite_existing);
         }},
    };
    for (const Fill& fill : fills) {
        SCOPED_TRACE(fill.name);
        TempDir dir;
        const std::string folder = dir.path + "/config/Qel";
        kv::QtSettingsStore store(dir.path + "/config");
        kv::test::RecordingView view;
        kv::test::FakeEventLoop clock;
        Trace trace(clock, view);
        kv::Settings s;
        ApplyFirstRunValues(s);
        s.sohowp = "secret";
        ASSERT_TRUE(RegCopy(store, s, trace, RegCopyDirection::Store));
        const std::string before = kv::test::ReadFile(folder + "/Kestrovan.conf");
        ASSERT_GT(before.size(), 500u);
        const std::string reg = dir.path + "/saved.reg";
        ASSERT_EQ(RunCli(store, dir.path, {"--save", reg}).status, 0);
        if (!fill.prepare(folder)) {
            std::cout << "[ skipped  ] " << fill.name << ": not possible on this machine\n";
            continue;
        }
        s.seca = 60;
        const bool stored = RegCopy(store, s, trace, RegCopyDirection::Store);
        const bool single = store.Write("Qel", "Kestrovan\\FormPos", "Main", "1,2,3,4");
        const CliRun loaded = RunCli(store, dir.path, {"--load", reg, "--yes"});
        fill.undo(folder);
        EXPECT_FALSE(stored);
        EXPECT_FALSE(single);
        EXPECT_EQ(loaded.status, 1);
        EXPECT_NE(loaded.err.find("読込を中止しました。レジストリは変更していません"),
                  std::string::npos)
            << loaded.err;
        EXPECT_EQ(kv::test::ReadFile(folder + "/Kestrovan.conf"), before);
        kv::QtSettingsStore fresh(dir.path + "/config");
        EXPECT_EQ(fresh.Read("Qel", "Kestrovan\\Setup", "seca"), "180");
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename(), "Kestrovan.conf") << "left behind";
    }
}

// Another program's settings beside ours (an organisation-wide Qel.conf) are not ours: no
// first-run skipped, no conversion from them, nothing to delete or save.
TEST(SettingsSurvive, OnlyOurOwnFileIsRead) {
    TempDir dir;
    fs::create_directories(dir.path + "/config/Qel");
    std::ofstream(dir.path + "/config/Qel.conf")
        << "[Setup]\nsohoip=10.9.9.9\nseca=1\n[Variant]\nver=other\n";
    kv::QtSettingsStore store(dir.path + "/config");
    EXPECT_EQ(store.Read("Qel", "Kestrovan\\Setup", "sohoip"), std::nullopt);
    EXPECT_FALSE(store.HasAppKey("Qel", "Kestrovan"));
    EXPECT_FALSE(store.HasAppKey("Qel", "Orlavine"));
    const CliRun upgrade = RunCli(store, dir.path, {"--upgrade", "--yes"});
    EXPECT_EQ(upgrade.status, 1);
    EXPECT_NE(upgrade.err.find("Orlavine のレジストリ情報がありません"), std::string::npos);
    EXPECT_EQ(RunCli(store, dir.path, {"--delete", "--yes"}).status, 1);
    ASSERT_EQ(RunCli(store, dir.path, {"--save"}).status, 0);
    EXPECT_EQ(kv::test::ReadFile(dir.path + "/Kestrovan.reg").substr(0, 4), "\r\n\r\n");
    EXPECT_FALSE(fs::exists(dir.path + "/config/Qel/Kestrovan.conf"));
}

// The settings hold the router password: whatever the umask, what the programs write into the
// settings folder (and the export file) is the user's alone, and nothing is left beside it.
TEST(SettingsSurvive, FilesAreTheUsersAlone) {
    TempDir dir;
    const mode_t old = ::umask(0);
    kv::QtSettingsStore store(dir.path + "/config");
    ASSERT_TRUE(store.Write("Qel", "Kestrovan\\Setup", "sohowp", "dfh"));
    ASSERT_TRUE(store.Write("Qel", "Kestrovan\\Setup", "seca", "180"));
    const int saved = RunCli(store, dir.path, {"--save"}).status;
    ::umask(old);
    ASSERT_EQ(saved, 0);
    auto mode = [](const std::string& p) { return fs::status(p).permissions() & fs::perms::all; };
    EXPECT_EQ(mode(dir.path + "/config/Qel/Kestrovan.conf"),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(mode(dir.path + "/config/Qel"), fs::perms::owner_all);
    EXPECT_EQ(mode(dir.path + "/Kestrovan.reg"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path + "/config/Qel"), {}), 1);
    // A file changed behind the store's back is read again, not taken from memory.
    std::ofstream(dir.path + "/config/Qel/Kestrovan.conf") << "[Setup]\nseca=240\n";
    EXPECT_EQ(store.Read("Qel", "Kestrovan\\Setup", "seca"), "240");
    EXPECT_EQ(store.Read("Qel", "Kestrovan\\Setup", "sohowp"), std::nullopt);
}

// Every command and mistake with its exit status, in the order a script would meet them.
TEST(SettingsSurvive, CommandLine) {
    TempDir dir;
    kv::QtSettingsStore store(dir.path + "/config");
    fs::create_directories(dir.path + "/sub");
    std::ofstream(dir.path + "/short.reg") << "127.0.0.1\r\n";
    struct Step {
        std::vector<std::string> args;
        int status;
        const char* says;  // in the output (status 0) or the errors
        std::optional<bool> answer = std::nullopt;
    };
    const std::vector<Step> steps = {
        {{"--version"}, 0, "Pelvaro 1.01"},
        {{"--help"}, 0, "--save [FILE]"},
        {{"--yes"}, 2, "コマンドがありません"},
        {{"--save", "--load"}, 2, "コマンドは一つだけ"},
        {{"--frobnicate"}, 2, "知らない引数です: --frobnicate"},
        {{"--delete", "--yes"}, 1, "削除するレジストリ情報がありません"},
        {{"--load", "missing.reg", "--yes"}, 1, "が見つかりません"},
        {{"--load", "short.reg", "--yes"}, 1, "1 行しかありません"},
        {{"--load", "sub", "--yes"}, 1, "を読み込めません"},
        {{"--save", "nowhere/x.reg"}, 1, "保存を中止しました"},
        {{"--save"}, 0, "保存しました"},
        {{"--load"}, 1, "「いいえ」としました"},  // nobody to answer
        {{"--load"}, 1, "中止しました", false},   // the user says no
        {{"--load"}, 0, "読込ました", true},      // the user says yes
        {{"--save", "sub/copy.reg"}, 0, "保存しました"},
        {{"--delete", "--yes"}, 0, "削除しました"},
        {{"--load", "sub/copy.reg", "--yes"}, 0, "読込ました"},
        {{"--upgrade", "--yes"}, 1, "Orlavine のレジストリ情報がありません"},
    };
    for (const Step& step : steps) {
        std::string line;
        for (const std::string& a : step.args) line += a + " ";
        SCOPED_TRACE(line);
        const CliRun run = RunCli(store, dir.path, step.args, step.answer);
        EXPECT_EQ(run.status, step.status) << run.out << run.err;
        EXPECT_NE((step.status == 0 ? run.out : run.err).find(step.says), std::string::npos)
            << run.out << run.err;
    }
    EXPECT_EQ(kv::test::ReadFile(dir.path + "/sub/copy.reg"),
              kv::test::ReadFile(dir.path + "/Kestrovan.reg"));
}

// The built program: no display, no window, its reports on the terminal and its exit status.
TEST(SettingsSurvive, PelvaroFromAScript) {
    TempDir dir;
    auto pelvaro = [&dir](std::vector<std::string> args) { return RunPelvaro(dir.path, args); };
    kv::QtSettingsStore store(dir.path + "/config");
    // A password that broke the round trip before: lead bytes in its scrambled form.
    kv::test::FakeEventLoop clock;
    kv::test::RecordingView view;
    Trace trace(clock, view);
    kv::Settings s;
    ApplyFirstRunValues(s);
    s.sohowp = "~a~a~a~a~a~a";
    ASSERT_TRUE(RegCopy(store, s, trace, RegCopyDirection::Store));
    const std::string reg = dir.path + "/backup.reg";
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } steps[] = {
        {{"--save", reg}, 0, "保存しました"},
        {{"--delete"}, 1, "「いいえ」としました"},
        {{"--delete", "--yes"}, 0, "削除しました"},
        {{"--load", dir.path + "/none.reg", "--yes"}, 1, "が見つかりません"},
        {{"--load", reg, "--yes"}, 0, "読込ました"},
        {{"--load", reg, "--unknown"}, 2, "知らない引数です"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[0]);
        const CliRun run = pelvaro(step.args);
        EXPECT_EQ(run.status, step.status) << run.out << run.err;
        EXPECT_NE((step.status == 0 ? run.out : run.err).find(step.says), std::string::npos)
            << run.out << run.err;
    }
    kv::Settings back;
    kv::QtSettingsStore after(dir.path + "/config");
    RegCopy(after, back, trace, RegCopyDirection::Load);
    EXPECT_EQ(back.sohowp, "~a~a~a~a~a~a");
}

// Settings stored by Kestrovan under dir/config, and Pelvaro's backup of them in dir/good.reg.
struct SavedSettings {
    TempDir dir;
    std::string conf = dir.path + "/config/Qel/Kestrovan.conf";
    std::string reg = dir.path + "/good.reg";
    std::string regBytes;
    SavedSettings() {
        kv::QtSettingsStore store(dir.path + "/config");
        kv::test::FakeEventLoop clock;
        kv::test::RecordingView view;
        Trace trace(clock, view);
        kv::Settings s;
        ApplyFirstRunValues(s);
        s.sohoip = "127.0.0.1";
        s.sohowp = "secret";
        s.runid[0] = "/usr/bin/dial";
        EXPECT_TRUE(RegCopy(store, s, trace, RegCopyDirection::Store));
        EXPECT_EQ(RunPelvaro(dir.path, {"--save", reg}).status, 0);
        regBytes = kv::test::ReadFile(reg);
    }
};

// Settings that are there but cannot be read are not "no settings": no backup of blanks over
// a good one, no "nothing to delete", no load over them.
TEST(SettingsSurvive, SettingsThatCannotBeReadAreNeverTakenForNone) {
    const struct {
        const char* name;
        std::function<bool(const std::string& conf)> spoil;  // false: not possible here
    } kinds[] = {
        {"another user's",
         [](const std::string& conf) { return ::geteuid() != 0 && ::chmod(conf.c_str(), 0) == 0; }},
        {"a FIFO",
         [](const std::string& conf) {
             return fs::remove(conf) && ::mkfifo(conf.c_str(), 0600) == 0;
         }},
        {"a folder",
         [](const std::string& conf) { return fs::remove(conf) && fs::create_directory(conf); }},
        {"no settings in it",
         [](const std::string& conf) {
             std::ofstream(conf, std::ios::binary | std::ios::trunc)
                 << std::string(5000, '\x01') << "\xff\xfe junk";
             return true;
         }},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        SavedSettings saved;
        if (!kind.spoil(saved.conf)) {
            std::cout << "[ skipped  ] " << kind.name << ": not possible here (root reads all)\n";
            continue;
        }
        const CliRun save = RunPelvaro(saved.dir.path, {"--save", saved.reg});
        EXPECT_EQ(save.status, 1) << save.out;
        EXPECT_NE(save.err.find("保存を中止しました"), std::string::npos) << save.err;
        EXPECT_EQ(kv::test::ReadFile(saved.reg), saved.regBytes);
        const CliRun del = RunPelvaro(saved.dir.path, {"--delete", "--yes"});
        EXPECT_EQ(del.status, 1);
        EXPECT_NE(del.err.find("削除を中止しました"), std::string::npos) << del.err;
        const CliRun load = RunPelvaro(saved.dir.path, {"--load", saved.reg, "--yes"});
        EXPECT_EQ(load.status, 1);
        EXPECT_NE(load.err.find("レジストリは変更していません"), std::string::npos) << load.err;
        ::chmod(saved.conf.c_str(), 0600);
    }
}

// The settings are read where they lie: a temporary folder that is not there (as full as a
// folder can be) changes nothing.
TEST(SettingsSurvive, NoTemporaryFolderChangesNothing) {
    SavedSettings saved;
    const std::vector<std::string> env = {"TMPDIR=" + saved.dir.path + "/no/such/folder"};
    const std::string copy = saved.dir.path + "/copy.reg";
    const CliRun save = RunPelvaro(saved.dir.path, {"--save", copy}, env);
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(kv::test::ReadFile(copy), saved.regBytes);
    EXPECT_EQ(kv::test::ReadFile(copy).substr(0, 11), "127.0.0.1\r\n");
    const CliRun load = RunPelvaro(saved.dir.path, {"--load", copy, "--yes"}, env);
    EXPECT_EQ(load.status, 0) << load.err;
}

// A file an editor saved with a byte-order mark, and one with a megabyte of junk appended: read
// as they are, written back clean.
TEST(SettingsSurvive, HandEditedSettingsFilesStayWritable) {
    for (const bool junk : {false, true}) {
        SCOPED_TRACE(junk ? "junk" : "byte-order mark");
        SavedSettings saved;
        const std::string clean = kv::test::ReadFile(saved.conf);
        std::string edited = "\xEF\xBB\xBF" + clean;
        if (junk) edited += std::string(1 << 20, 'x') + "\n";
        std::ofstream(saved.conf, std::ios::binary | std::ios::trunc) << edited;
        const CliRun save = RunPelvaro(saved.dir.path, {"--save", saved.reg});
        EXPECT_EQ(save.status, 0) << save.err;
        EXPECT_EQ(kv::test::ReadFile(saved.reg), saved.regBytes);
        const CliRun load = RunPelvaro(saved.dir.path, {"--load", saved.reg, "--yes"});
        EXPECT_EQ(load.status, 0) << load.err;
        // What the load adds (the window's place), nothing of the mark or the junk.
        const std::string written = kv::test::ReadFile(saved.conf);
        EXPECT_EQ(written, "[FormPos]\nMain=\n\n" + clean);
    }
}

// What --load cannot mean is refused with its line and nothing changes.
TEST(SettingsSurvive, LoadRefusesFilesItCannotMean) {
    SavedSettings saved;
    const std::string conf = kv::test::ReadFile(saved.conf);
    auto withLine = [&saved](size_t line, const std::string& text) {
        std::string bytes = saved.regBytes;
        size_t at = 0;
        for (size_t i = 1; i < line; ++i) at = bytes.find("\r\n", at) + 2;
        return bytes.replace(at, bytes.find("\r\n", at) - at, text);
    };
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"UTF-8 path", withLine(29, "/home/ユーザー/接続.sh"), "29 行目 (runid) は UTF-8"},
        {"mark before CP932", "\xEF\xBB\xBF" + saved.regBytes, "1 行目 (sohoip) の先頭に UTF-8"},
        {"1 MiB address", withLine(1, std::string(1 << 20, '1')), "1 行目 (sohoip) が長すぎます"},
        {"10 MiB address", withLine(1, std::string(10 << 20, '1')), "1 行目 (sohoip) が長すぎます"},
        {"NUL in holidays", withLine(28, std::string(" 1/ 1\0 1/15", 11)),
         "28 行目 (holiday) に NUL"},
        {"a 45th line", saved.regBytes + "more\r\n", "45 行目"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = saved.dir.path + "/bad.reg";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.bytes;
        const CliRun load = RunPelvaro(saved.dir.path, {"--load", file, "--yes"});
        EXPECT_EQ(load.status, 1);
        EXPECT_NE(load.err.find(c.says), std::string::npos) << load.err;
        EXPECT_NE(load.err.find("bad.reg の"), std::string::npos) << load.err;
        EXPECT_EQ(kv::test::ReadFile(saved.conf), conf);
    }
    // Empty lines an editor added at the end are no values.
    std::ofstream(saved.dir.path + "/ok.reg", std::ios::binary) << saved.regBytes << "\r\n\r\n";
    EXPECT_EQ(RunPelvaro(saved.dir.path, {"--load", saved.dir.path + "/ok.reg", "--yes"}).status,
              0);
}

// Orlavine's files going to the per-user data folder on a file system without room: nothing
// half-copied left where Kestrovan reads, Orlavine's settings kept, the reason said, and the
// run after room was made completes. Needs tiny file systems (a test that may mount).
TEST(SettingsSurvive, AConversionOntoAFullFileSystemLosesNothing) {
    TempDir dir;
    const std::string prog = dir.path + "/prog", data = dir.path + "/data", cur = dir.path + "/cur";
    for (const std::string& f : {prog, data, cur}) fs::create_directories(f);
    // The program's folder cannot be written, so the data goes to the per-user folder.
    if (::mount("tmpfs", prog.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
        std::cout << "[ skipped  ] cannot mount file systems here\n";
        return;
    }
    if (::mount("tmpfs", data.c_str(), "tmpfs", 0, "size=64k") != 0) {
        ::umount(prog.c_str());
        std::cout << "[ skipped  ] cannot mount file systems here\n";
        return;
    }
    const std::string log(200000, 'L'), dat = "\"2026/12/01\",1,2,3\r\n";
    std::ofstream(cur + "/orlavine.log", std::ios::binary) << log;
    std::ofstream(cur + "/orlavine.dat", std::ios::binary) << dat;
    kv::QtSettingsStore store(dir.path + "/config");
    ASSERT_TRUE(store.Write("Qel", "Orlavine\\Setup", "sohoip", "10.0.0.9"));
    auto upgrade = [&] {
        std::ostringstream out, err;
        const int status =
            RunCommandLine({"--upgrade", "--yes"}, store, prog, cur, {out, err, nullptr}, data);
        return CliRun{status, out.str(), err.str()};
    };

    const CliRun first = upgrade();
    EXPECT_EQ(first.status, 1);
    EXPECT_NE(first.err.find("No space left on device"), std::string::npos) << first.err;
    EXPECT_EQ(first.err.find("cross-device"), std::string::npos) << first.err;
    for (const auto& entry : fs::directory_iterator(data)) {
        EXPECT_GT(fs::file_size(entry.path()), 0u) << entry.path();
        EXPECT_NE(entry.path().extension(), ".part");
    }
    EXPECT_FALSE(fs::exists(data + "/Kestrovan.log"));
    EXPECT_EQ(kv::test::ReadFile(cur + "/orlavine.log"), log);
    EXPECT_TRUE(store.HasAppKey("Qel", "Orlavine"));

    ASSERT_EQ(::mount("tmpfs", data.c_str(), "tmpfs", MS_REMOUNT, "size=1m"), 0);
    const CliRun second = upgrade();
    EXPECT_EQ(kv::test::ReadFile(data + "/Kestrovan.log"), log);
    EXPECT_EQ(kv::test::ReadFile(data + "/Kestrovan.dat"), dat);
    ::umount(data.c_str());
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("変換が終了しました"), std::string::npos);
    EXPECT_FALSE(fs::exists(cur + "/orlavine.log"));
    EXPECT_FALSE(store.HasAppKey("Qel", "Orlavine"));
    EXPECT_EQ(store.Read("Qel", "Kestrovan\\Setup", "sohoip"), "10.0.0.9");
    ::umount(prog.c_str());
}

// A load, delete or conversion under a running Kestrovan would be undone at its end: refused
// unless --yes; a save is harmless. Messages name the file used.
TEST(SettingsSurvive, PelvaroAndARunningKestrovan) {
    SavedSettings saved;
    kv::QtSettingsStore store(saved.dir.path + "/config");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } steps[] = {
        {{"--save", "mine.reg"}, 0, "保存しました"},
        {{"--load", "mine.reg"}, 1, "Kestrovan を終了してから実行してください。読込を中止しました"},
        {{"--delete"}, 1, "削除を中止しました"},
        {{"--upgrade"}, 1, "変換を中止しました"},
        {{"--load", "mine.reg", "--yes"}, 0, "読込ました"},
        {{"--load", "none.reg", "--yes"}, 1, "none.reg が見つかりません"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[0]);
        std::ostringstream out, err;
        const int status = RunCommandLine(step.args, store, saved.dir.path, saved.dir.path,
                                          {out, err, [](const std::string&) { return true; }}, {},
                                          [] { return true; });
        EXPECT_EQ(status, step.status) << out.str() << err.str();
        EXPECT_NE((out.str() + err.str()).find(step.says), std::string::npos)
            << out.str() << err.str();
    }
}

}  // namespace
}  // namespace kv::maint

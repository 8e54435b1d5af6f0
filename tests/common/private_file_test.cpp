// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/data_file.h"
#include "common/private_file.h"
#include "support/fakes.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct Folder {
    std::string path = test::MakeTempDir();
    ~Folder() { test::RemoveTree(path); }
};

TEST(PrivateFile, EachVersionReplacesTheLastWholeAndNoTempStays) {
    Folder dir;
    const std::string path = dir.path + "/Kestrovan.conf";
    std::optional<privatefile::Stamp> previous;
    // A new file, a longer one with a NUL in it, an empty one.
    for (const std::string& bytes :
         {"[Setup]\r\nsohoip=127.0.0.1\r\n"s, "a\0b\r\n[x]\r\ny=z\r\n"s, ""s}) {
        SCOPED_TRACE(bytes.size());
        const std::optional<std::string> temp =
            privatefile::WriteTemp(dir.path, "Kestrovan.conf", bytes);
        ASSERT_TRUE(temp);
        EXPECT_EQ(privatefile::ReadBytes(*temp), bytes);
        ASSERT_TRUE(privatefile::Replace(*temp, path));
        EXPECT_EQ(privatefile::ReadBytes(path), bytes);
        const std::optional<privatefile::Stamp> stamp = privatefile::StampOf(path);
        ASSERT_TRUE(stamp);
        EXPECT_EQ(privatefile::StampOf(path), stamp);
        EXPECT_NE(stamp, previous);
        previous = stamp;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
    EXPECT_TRUE(privatefile::Remove(path));
    EXPECT_FALSE(privatefile::Remove(path));
}

TEST(PrivateFile, WhatIsNotAReadableFileGivesNothing) {
    Folder dir;
    struct Case {
        const char* what;
        std::string path;
        bool missing;
    };
    const Case cases[] = {
        {"no such file", dir.path + "/none.conf", true},
        {"under a missing folder", dir.path + "/none/Kestrovan.conf", true},
        // There, but never to be replaced as if it were empty.
        {"a folder", dir.path, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(privatefile::ReadBytes(c.path));
        bool missing = !c.missing;
        const std::optional<privatefile::Stamp> stamp = privatefile::StampOf(c.path, &missing);
        EXPECT_EQ(missing, c.missing);
        EXPECT_EQ(stamp.has_value(), !c.missing);
    }
    EXPECT_FALSE(privatefile::WriteTemp(dir.path + "/none", "Kestrovan.conf", "x"));
}

#ifndef _WIN32
TEST(PrivateFile, FilesAreTheUsersAloneWhateverMadeThem) {
    Folder dir;
    const std::string path = dir.path + "/Kestrovan.conf";
    const std::optional<std::string> temp = privatefile::WriteTemp(dir.path, "Kestrovan.conf", "");
    ASSERT_TRUE(temp);
    // As another writer (Qt) may leave it.
    fs::permissions(*temp, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
    ASSERT_TRUE(privatefile::Replace(*temp, path));
    EXPECT_EQ(fs::status(path).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);

    fs::create_directory(dir.path + "/before");
    const fs::perms before = fs::status(dir.path + "/before").permissions();
    {
        privatefile::PrivateFiles privateFiles;
        fs::create_directory(dir.path + "/private");
    }
    EXPECT_EQ(fs::status(dir.path + "/private").permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
    fs::create_directory(dir.path + "/after");
    EXPECT_EQ(fs::status(dir.path + "/after").permissions(), before);
}
#endif

#ifndef _WIN32
// The call log, the totals, their backups and the trace are the user's alone, whatever the
// umask: new files, and a totals file rewritten whole.
TEST(PrivateFile, DataFilesAreMadeForTheUserAlone) {
    Folder dir;
    const mode_t old = ::umask(022);
    const std::string dat = dir.path + "/Kestrovan.dat", log = dir.path + "/Kestrovan.log",
                      bak = dir.path + "/Kestrovan.dat.bak-1";
    const bool replaced = datafile::ReplaceWhole(dat, "1,2,3\r\n") &&
                          datafile::ReplaceWhole(bak, "1,2,3\r\n") &&
                          datafile::ReplaceWhole(dat, "4,5,6\r\n");
    const int fd = datafile::OpenForAppend(log);
    ::umask(old);
    ASSERT_TRUE(replaced);
    ASSERT_GE(fd, 0);
    ::close(fd);
    for (const std::string& f : {dat, log, bak})
        EXPECT_EQ(fs::status(f).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << f;
}
#endif

// A record appended to a log whose last line was torn (no CR LF, or a bare LF of another editor)
// starts on a line of its own.
TEST(PrivateFile, AppendEndsATornLastLineFirst) {
    const struct {
        std::string before;
        bool repaired;
        std::string after;
    } cases[] = {
        {"", false, "X\r\n"},        {"a\r\n", false, "a\r\nX\r\n"},
        {"a", true, "a\r\nX\r\n"},   {"a\n", true, "a\n\r\nX\r\n"},
        {"\n", true, "\n\r\nX\r\n"}, {"a\r", true, "a\r\r\nX\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        Folder dir;
        const std::string log = dir.path + "/Kestrovan.log";
        if (!c.before.empty()) {
            ASSERT_TRUE(datafile::ReplaceWhole(log, c.before));
        }
        bool repaired = !c.repaired;
        ASSERT_TRUE(datafile::AppendWhole(log, "X\r\n", true, &repaired));
        EXPECT_EQ(repaired, c.repaired);
        EXPECT_EQ(privatefile::ReadBytes(log), c.after);
    }
}

}  // namespace
}  // namespace kv

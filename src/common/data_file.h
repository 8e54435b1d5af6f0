// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's own files (call log, totals, trace, lock): only regular files are used, no
// symbolic link is followed (a link's target elsewhere is never written), nothing waits on a
// FIFO, and no descriptor is left open in the programs the runner starts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace kv::datafile {

enum class ReadResult { Ok, Missing, Unreadable, NotAFile };

// The whole file, or at most its last maxBytes.
ReadResult ReadAll(const std::string& path, std::string& out, size_t maxBytes = 0);

// A file too big to hold, read a piece at a time by the same rules as ReadAll.
class PieceReader {
  public:
    PieceReader() = default;
    ~PieceReader();
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    ReadResult Open(const std::string& path);
    // The length when opened; the file may grow while it is read.
    uint64_t Size() const { return size_; }
    // Up to count bytes into `into`: how many, 0 at the end, -1 on a failure (errno).
    std::ptrdiff_t Read(char* into, size_t count);
    // Reading goes on at offset. False with errno.
    bool Seek(uint64_t offset);

  private:
    std::intptr_t handle_ = -1;  // a descriptor or a HANDLE
    uint64_t size_ = 0;
};

// Appends bytes as a whole: when not all could be written (a full disk) the file is cut back
// to where it was, so no torn line stays behind. With endLinesFirst, a file whose last line
// was torn before (a crash, power) gets its CR LF first; *repaired tells. False with errno.
bool AppendWhole(const std::string& path, const std::string& bytes, bool endLinesFirst,
                 bool* repaired = nullptr);

// Replaces the file through a temporary file beside it, created exclusively and renamed
// over it, so a crash never leaves a torn file. False with errno.
bool ReplaceWhole(const std::string& path, const std::string& bytes);

// A descriptor for appending (the trace), or -1 with errno.
int OpenForAppend(const std::string& path);

// Paths are UTF-8 strings throughout; std::filesystem and the C library take a narrow string
// in the ANSI code page on Windows, so paths cross over through these.
inline std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}
// The file for reading as a binary stream, or nullptr with errno.
std::FILE* OpenForReading(const std::string& path);

// OpenForAppend's file as a binary stream (the trace), or nullptr with errno.
std::FILE* OpenAppendStream(const std::string& path);

// Makes bytes the whole content of path (created, or emptied first), a file for the user
// alone: it may hold the router password. No link is followed. False with errno; *opened
// tells whether the file itself could be opened.
bool WritePrivate(const std::string& path, const std::string& bytes, bool* opened = nullptr);

// Opens (creating it) a regular file for reading and writing, or -1 with errno (the lock).
int OpenRegular(const std::string& path);

// True when a file can be made in folder (tried, not guessed from the mode bits).
bool FolderWritable(const std::string& folder);

// Where the call log, totals and trace are kept: beside the program when its folder can be
// written (a copy in a folder of its own keeps everything together); otherwise the per-user
// folder, so an installed program does not lose its records.
struct DataFolder {
    std::string path;
    bool perUser = false;  // the program's folder could not be written
    bool created = false;  // the per-user folder was made just now (its first use)
};
// With create, a missing per-user folder is made (for the user alone). An empty perUserFolder
// leaves the program's folder in any case.
DataFolder ChooseDataFolder(const std::string& programFolder, const std::string& perUserFolder,
                            bool create);

}  // namespace kv::datafile

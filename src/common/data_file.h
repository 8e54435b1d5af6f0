#pragma once
// The program's own files (call log, totals, trace, lock): only regular files are used, no
// symbolic link is followed (a link's target elsewhere is never written), nothing waits on a
// FIFO, and no descriptor is left open in the programs the runner starts.
#include <cstddef>
#include <string>

namespace kv::datafile {

enum class ReadResult { Ok, Missing, Unreadable, NotAFile };

// The whole file, or at most its last maxBytes.
ReadResult ReadAll(const std::string& path, std::string& out, size_t maxBytes = 0);

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

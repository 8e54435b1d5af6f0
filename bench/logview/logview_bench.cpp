// SPDX-License-Identifier: GPL-3.0-or-later
// The call log read by the viewer's core against the plain tools on the same file: cat, wc -l
// and an awk one-liner for the per-day totals, then the core's per-day totals and its detail
// list, and the program's own "--check-totals". Each runs as a child process so its wall time
// and peak memory can be measured. Prints one figure per line as "name value unit".
//
//   logview_bench CALLS FOLDER [KESTROVAN] the comparison on a log of CALLS calls in FOLDER;
//                                          with the program, its totals check as well
//   logview_bench --generate LOG CALLS     only write the log
//   logview_bench --day-totals LOG OUT     (child) per-day totals of LOG into OUT
//   logview_bench --detail LOG OUT         (child) the detail list's index; its size into OUT
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "logview/dsp_log.h"

namespace {

struct ChildRun {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

// Runs argv as a child process; wall time on the monotonic clock, peak RSS from wait4.
ChildRun RunChild(const std::vector<std::string>& args, const std::string& stdoutPath = {}) {
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!stdoutPath.empty() && std::freopen(stdoutPath.c_str(), "w", stdout) == nullptr)
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ChildRun run;
    struct rusage usage {};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The best of a few runs; a run ending with a status above okStatus ends them.
ChildRun Best(int rounds, const std::vector<std::string>& args, const std::string& stdoutPath = {},
              int okStatus = 0) {
    ChildRun best;
    for (int round = 0; round < rounds; ++round) {
        const ChildRun run = RunChild(args, stdoutPath);
        if (run.status < 0 || run.status > okStatus) return run;
        if (round == 0 || run.seconds < best.seconds) best = run;
    }
    return best;
}

int DaysIn(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Calls from 1900 on, up to 60 to 140 a day, each written as the program writes it (seeded,
// so a size always gives the same file). A day holds what fits: no call starts after
// 23:59:54 or runs past midnight.
size_t WriteLog(const std::string& path, long calls) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::vector<char> buffer(size_t{1} << 20);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    std::mt19937 random(20261207);
    int year = 1900, month = 1, day = 1;
    long written = 0;
    char line[256];
    while (written < calls) {
        const int today = 60 + static_cast<int>(random() % 81);
        int clock = 0;
        for (int call = 0; call < today && written < calls; ++call, ++written) {
            clock += static_cast<int>(random() % (86400 / today));
            if (clock > 86399 - 5) break;
            const int seconds = std::min(5 + static_cast<int>(random() % 900), 86399 - clock);
            const int end = clock + seconds;
            const int units = 1 + seconds / 180;
            const int adjust = -static_cast<int>(random() % 9);
            const int offset = static_cast<int>(random() % 5) - 2;
            char date[48], start[48], stop[48], hms[48];
            std::snprintf(date, sizeof date, "%04d/%02d/%02d", year, month, day);
            std::snprintf(start, sizeof start, "%02d:%02d:%02d", clock / 3600, clock / 60 % 60,
                          clock % 60);
            std::snprintf(stop, sizeof stop, "%02d:%02d:%02d", end / 3600, end / 60 % 60, end % 60);
            std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                          seconds % 60);
            int n = std::snprintf(line, sizeof line, "\"Connect\",\"%s\",\"%s\",%d,%d\r\n", date,
                                  start, adjust, offset);
            std::fwrite(line, 1, static_cast<size_t>(n), file);
            n = std::snprintf(line, sizeof line,
                              "\"DisConnect\",\"%s\",\"%s\",\"%s\",%d,%d,%d,%d\r\n", date, stop,
                              hms, seconds, units, adjust, offset);
            std::fwrite(line, 1, static_cast<size_t>(n), file);
            n = std::snprintf(line, sizeof line,
                              "\"Tel\",\"%s\",\"%s\",\"%s\",\"%s\",\"%s\",%d,%d,%d,%d\r\n", date,
                              start, date, stop, hms, seconds, units, adjust, offset);
            std::fwrite(line, 1, static_cast<size_t>(n), file);
            clock = end;
        }
        if (++day > DaysIn(year, month)) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
    std::fclose(file);
    return std::filesystem::file_size(path);
}

std::map<std::string, long long> ReadTotals(const std::string& path) {
    std::map<std::string, long long> totals;
    std::ifstream in(path);
    std::string key;
    long long units = 0;
    while (in >> key >> units) totals[key] += units;
    return totals;
}

int DayTotalsChild(const std::string& log, const std::string& out) {
    const kv::logview::ScanResult scan = kv::logview::ScanLog(log, 1);
    if (!scan.message.empty()) {
        std::fprintf(stderr, "%s\n", scan.message.c_str());
        return 1;
    }
    std::FILE* file = std::fopen(out.c_str(), "w");
    if (file == nullptr) return 1;
    for (const auto& total : scan.totals) {
        std::fprintf(file, "%.10s %lld\n", total.key.c_str(), static_cast<long long>(total.units));
    }
    std::fclose(file);
    return 0;
}

int DetailChild(const std::string& log, const std::string& out) {
    kv::logview::DetailIndex index;
    kv::logview::ScanControl control;
    control.onRows = [&index](const uint64_t* offsets, size_t count) {
        index.Append(offsets, count);
    };
    const kv::logview::ScanResult scan = kv::logview::ScanLog(log, 0, control);
    std::FILE* file = std::fopen(out.c_str(), "w");
    if (file == nullptr || !scan.message.empty()) return 1;
    std::fprintf(file, "%zu %zu\n", index.size(), index.Bytes());
    std::fclose(file);
    return 0;
}

void Figure(const char* name, double value, const char* unit) {
    std::printf("%-30s %.4g %s\n", name, value, unit);
}

// "--check-totals" as the user runs it: the program copied into a folder of its own, which
// is then its data folder, with the log linked in as Kestrovan.log, and a settings folder of
// its own (three-minute daytime units, four at night and on holidays).
struct CheckTotalsRun {
    ChildRun run;
    long long calls = -1;  // as the program counted them
    bool unread = false;   // it found lines it could not read
};

CheckTotalsRun CheckTotals(const std::string& kestrovan, const std::string& log,
                           const std::filesystem::path& folder, int rounds) {
    namespace fs = std::filesystem;
    const fs::path data = folder / "check-totals";
    const fs::path config = folder / "check-totals-config";
    fs::remove_all(data);
    fs::remove_all(config);
    fs::create_directories(data);
    fs::create_directories(config / "Qel");
    fs::copy_file(kestrovan, data / "kestrovan");
    std::error_code error;
    fs::create_hard_link(log, data / "Kestrovan.log", error);
    if (error) fs::copy_file(log, data / "Kestrovan.log");
    std::ofstream(config / "Qel" / "Kestrovan.conf")
        << "[Setup]\nsohoip=127.0.0.1\nseca=180\nsecb=240\nsecc=240\ntelstday=1\nteleho=0\n";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    // It never reaches for the router in this mode; should it ever, nothing answers here.
    ::setenv("KESTROVAN_CONSOLE_PORT", "1", 1);
    const std::string out = (folder / "check-totals.txt").string();
    CheckTotalsRun check;
    // 0: the totals agree, 1: they do not (there is no totals file); both are a whole run.
    check.run = Best(rounds, {(data / "kestrovan").string(), "--check-totals"}, out, 1);
    std::ifstream result(out);
    const std::string wanted = "(通話 ";
    for (std::string line; std::getline(result, line);) {
        const size_t at = line.find(wanted);
        if (at == std::string::npos) continue;
        check.calls = std::atoll(line.c_str() + at + wanted.size());
        check.unread = line.find("読めない行") != std::string::npos;
    }
    fs::remove_all(data);
    fs::remove_all(config);
    fs::remove(out);
    return check;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--day-totals")
        return DayTotalsChild(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "--detail") return DetailChild(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "--generate")
        return WriteLog(argv[2], std::atol(argv[3])) > 0 ? 0 : 1;
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: logview_bench CALLS FOLDER [KESTROVAN]\n");
        return 2;
    }

    namespace fs = std::filesystem;
    const long calls = std::atol(argv[1]);
    const fs::path folder = argv[2];
    fs::create_directories(folder);
    // ".v2": an older generator's log started calls after midnight; it is not used.
    const std::string log = (folder / ("calls-" + std::to_string(calls) + ".v2.log")).string();
    const std::string coreOut = (folder / "core-totals.txt").string();
    const std::string awkOut = (folder / "awk-totals.txt").string();
    const std::string detailOut = (folder / "detail.txt").string();
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    // The log is kept for the next run: the same size gives the same bytes.
    std::error_code error;
    size_t bytes = fs::exists(log, error) ? fs::file_size(log, error) : 0;
    if (bytes == 0) bytes = WriteLog(log, calls);
    if (bytes == 0) {
        std::fprintf(stderr, "cannot write %s\n", log.c_str());
        return 1;
    }
    Figure("calls", static_cast<double>(calls), "calls");
    Figure("log_size", static_cast<double>(bytes) / 1e6, "MB");

    // Warm the page cache once so no one pays for the disk.
    RunChild({"cat", log}, "/dev/null");
    const int rounds = 3;
    const ChildRun cat = Best(rounds, {"cat", log}, "/dev/null");
    const ChildRun wc = Best(rounds, {"wc", "-l", log}, "/dev/null");
    const ChildRun awk =
        Best(rounds,
             {"awk", "-F,",
              "/Tel/ { t[substr($2, 2, 10)] += $8 } END { for (k in t) print k, t[k] }", log},
             awkOut);
    const ChildRun core = Best(rounds, {self, "--day-totals", log, coreOut});
    const ChildRun detail = Best(1, {self, "--detail", log, detailOut});
    if (cat.status != 0 || wc.status != 0 || awk.status != 0 || core.status != 0 ||
        detail.status != 0) {
        std::fprintf(stderr, "a run failed: cat %d, wc %d, awk %d, core %d, detail %d\n",
                     cat.status, wc.status, awk.status, core.status, detail.status);
        return 1;
    }
    size_t rows = 0, indexBytes = 0;
    std::ifstream(detailOut) >> rows >> indexBytes;
    const bool agree = ReadTotals(coreOut) == ReadTotals(awkOut);

    Figure("cat_s", cat.seconds, "s");
    Figure("wc_l_s", wc.seconds, "s");
    Figure("awk_day_totals_s", awk.seconds, "s");
    Figure("awk_day_totals_peak_mb", static_cast<double>(awk.peakKb) / 1024.0, "MB");
    Figure("day_totals_s", core.seconds, "s");
    Figure("day_totals_peak_mb", static_cast<double>(core.peakKb) / 1024.0, "MB");
    Figure("totals_agree_with_awk", agree ? 1 : 0, "bool");
    Figure("totals_vs_cat", core.seconds / cat.seconds, "ratio");
    Figure("totals_vs_awk", core.seconds / awk.seconds, "ratio");
    Figure("detail_build_s", detail.seconds, "s");
    Figure("detail_build_peak_mb", static_cast<double>(detail.peakKb) / 1024.0, "MB");
    Figure("detail_rows", static_cast<double>(rows), "calls");
    Figure("detail_index_bytes_per_call",
           rows ? static_cast<double>(indexBytes) / static_cast<double>(rows) : 0, "B");
    fs::remove(coreOut);
    fs::remove(awkOut);
    fs::remove(detailOut);
    bool checked = true;
    if (argc == 4) {
        const CheckTotalsRun check = CheckTotals(argv[3], log, folder, rounds);
        if (check.run.status < 0 || check.run.status > 1) {
            std::fprintf(stderr, "--check-totals failed: %d\n", check.run.status);
            return 1;
        }
        Figure("check_totals_s", check.run.seconds, "s");
        Figure("check_totals_vs_cat", check.run.seconds / cat.seconds, "ratio");
        Figure("check_totals_peak_rss_mb", static_cast<double>(check.run.peakKb) / 1024.0, "MB");
        Figure("check_totals_calls", static_cast<double>(check.calls), "calls");
        checked = check.calls == calls && !check.unread;
    }
    return agree && checked && rows == static_cast<size_t>(calls) ? 0 : 1;
}

// Reads a call log of a million finished calls and builds the per-day totals, in a child
// process so its peak memory can be measured, and does the same with an awk one-liner on the
// same file; prints both times, their ratio and the peak memory.
//
//   logview_bench [folder]            run the comparison (folder: where the log is written)
//   logview_bench --day-totals LOG OUT   (child) per-day totals of LOG into OUT
//   logview_bench --detail LOG           (child) the detail list of LOG
//   logview_bench --generate LOG         only write the log
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
#include <sstream>
#include <string>
#include <vector>

#include "logview/dsp_log.h"

namespace {

constexpr int kCalls = 1000000;

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

ChildRun Best(int rounds, const std::vector<std::string>& args,
              const std::string& stdoutPath = {}) {
    ChildRun best;
    for (int round = 0; round < rounds; ++round) {
        const ChildRun run = RunChild(args, stdoutPath);
        if (round == 0 || run.seconds < best.seconds) best = run;
        if (run.status != 0) return run;
    }
    return best;
}

int DaysIn(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A million calls from 2000 on, 60 to 140 a day, each written as the program writes it.
size_t WriteLog(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::mt19937 random(20261207);
    int year = 2000, month = 1, day = 1, calls = 0;
    char line[256];
    while (calls < kCalls) {
        const int today = 60 + static_cast<int>(random() % 81);
        int clock = 0;
        for (int call = 0; call < today && calls < kCalls; ++call, ++calls) {
            clock += static_cast<int>(random() % (86400 / today));
            const int seconds = 5 + static_cast<int>(random() % 900);
            const int end = std::min(clock + seconds, 86399);
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
    const kv::logview::LogDisplay display = kv::logview::DspLog2(log, 1);
    if (!display.message.empty()) {
        std::fprintf(stderr, "%s\n", display.message.c_str());
        return 1;
    }
    std::FILE* file = std::fopen(out.c_str(), "w");
    if (file == nullptr) return 1;
    for (const auto& total : display.totals) {
        std::fprintf(file, "%.10s %lld\n", total.key.c_str(), static_cast<long long>(total.units));
    }
    std::fclose(file);
    return 0;
}

int DetailChild(const std::string& log) {
    const kv::logview::LogDisplay display = kv::logview::DspLog1(log);
    return display.message.empty() && display.lines.size() == static_cast<size_t>(kCalls) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--day-totals")
        return DayTotalsChild(argv[2], argv[3]);
    if (argc == 3 && std::string(argv[1]) == "--detail") return DetailChild(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--generate") return WriteLog(argv[2]) > 0 ? 0 : 1;

    namespace fs = std::filesystem;
    const fs::path folder =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kv_logview_bench";
    fs::create_directories(folder);
    const std::string log = (folder / "Kestrovan.log").string();
    const std::string coreOut = (folder / "core-totals.txt").string();
    const std::string awkOut = (folder / "awk-totals.txt").string();
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    const size_t bytes = WriteLog(log);
    if (bytes == 0) {
        std::fprintf(stderr, "cannot write %s\n", log.c_str());
        return 1;
    }
    std::printf("log: %s, %d calls, %zu lines, %.1f MB\n", log.c_str(), kCalls,
                static_cast<size_t>(kCalls) * 3, static_cast<double>(bytes) / 1e6);

    // Warm the page cache once so neither side pays for the disk.
    RunChild({"cat", log}, "/dev/null");

    const int rounds = 3;
    const ChildRun awk =
        Best(rounds,
             {"awk", "-F,",
              "/Tel/ { t[substr($2, 2, 10)] += $8 } END { for (k in t) print k, t[k] }", log},
             awkOut);
    const ChildRun core = Best(rounds, {self, "--day-totals", log, coreOut});
    const ChildRun detail = Best(1, {self, "--detail", log});
    if (awk.status != 0 || core.status != 0 || detail.status != 0) {
        std::fprintf(stderr, "a run failed: awk %d, core %d, detail %d\n", awk.status, core.status,
                     detail.status);
        return 1;
    }

    const auto coreTotals = ReadTotals(coreOut);
    const auto awkTotals = ReadTotals(awkOut);
    const bool agree = coreTotals == awkTotals;
    const double ratio = core.seconds / awk.seconds;
    const double peakMb = static_cast<double>(core.peakKb) / 1024.0;
    std::printf("per-day totals: %zu days, %s\n", coreTotals.size(),
                agree ? "core and awk agree" : "MISMATCH");
    std::printf("awk  (best of %d): %.3f s, peak %.1f MB\n", rounds, awk.seconds,
                static_cast<double>(awk.peakKb) / 1024.0);
    std::printf("core (best of %d): %.3f s, peak %.1f MB\n", rounds, core.seconds, peakMb);
    std::printf("core/awk time ratio: %.3f\n", ratio);
    std::printf("detail list (DspLog1, %d lines): %.3f s, peak %.1f MB\n", kCalls, detail.seconds,
                static_cast<double>(detail.peakKb) / 1024.0);
    const bool pass = agree && ratio < 1.0 && peakMb < 200.0;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    fs::remove(log);
    fs::remove(coreOut);
    fs::remove(awkOut);
    return pass ? 0 : 1;
}

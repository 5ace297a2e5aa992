// Opening the catalogue at scale: MaterialiseMdb (both tables into in-memory SQLite) against
// mdb-export of both tables, in one run, with wall time and peak memory of each.
//
//   catalogue_open [--resources N] [--categories N] [--runs N] [--file PATH]
//
// Every measurement runs in a fresh process so that peak memory is its own.

#include "mdbwriter/Catalogue.h"
#include "platform/ado/jet/JetReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sqlite3.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double ms = 0;
    long peakKb = 0;
};

// Runs argv with stdout on /dev/null (or a pipe when `output` is given); wall time and the
// peak RSS of the process and its children.
bool Run(const std::vector<std::string>& args, Sample& sample, std::string* output = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        if (::pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    const auto start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output) {
        ::close(fds[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            output->append(buffer, static_cast<std::size_t>(n));
        ::close(fds[0]);
    }
    if (rc != 0)
        return false;
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    sample.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    sample.peakKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The child side of one materialise measurement: prints the open's time, the reading child's
// peak RSS, SQLite's memory, and the time to read every column of every List row.
int Materialise(const std::string& path, const std::string& password) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    const auto start = Clock::now();
    const auto result = vm::ado::jet::MaterialiseMdb(path, password, db);
    const double openMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!result.ok) {
        std::fprintf(stderr, "open failed: %s\n", result.error.c_str());
        return 1;
    }
    const auto scanStart = Clock::now();
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "select * from List", -1, &stmt, nullptr);
    long long rows = 0, bytes = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        ++rows;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            bytes += sqlite3_column_type(stmt, i) == SQLITE_TEXT ? sqlite3_column_bytes(stmt, i)
                                                                 : sqlite3_column_int(stmt, i) != 0;
    }
    sqlite3_finalize(stmt);
    const double scanMs =
        std::chrono::duration<double, std::milli>(Clock::now() - scanStart).count();
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    std::printf("%.1f %ld %lld %lld %.1f\n", openMs, children.ru_maxrss,
                static_cast<long long>(sqlite3_memory_used()), rows, scanMs);
    sqlite3_close(db);
    return 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--materialise") == 0)
        return Materialise(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "--write") == 0) {
        vm::mdbwriter::CatalogueShape shape;
        shape.resources = std::atoi(argv[3]);
        shape.categories = std::atoi(argv[4]);
        std::string error;
        if (vm::mdbwriter::WriteCatalogue(argv[2], shape, &error))
            return 0;
        std::fprintf(stderr, "cannot write %s: %s\n", argv[2], error.c_str());
        return 1;
    }

    vm::mdbwriter::CatalogueShape shape;
    shape.resources = 100000;
    shape.categories = 2000;
    int runs = 3;
    std::string file;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--resources")
            shape.resources = std::atoi(argv[i + 1]);
        else if (key == "--categories")
            shape.categories = std::atoi(argv[i + 1]);
        else if (key == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--file")
            file = argv[i + 1];
    }
    if (file.empty())
        file = (std::filesystem::temp_directory_path() /
                ("vm-catalogue-" + std::to_string(shape.resources) + "-" +
                 std::to_string(shape.categories) + ".mdb"))
                   .string();
    // Written by a child: a spawned process starts with its parent's peak RSS, so the parent
    // stays small.
    if (!std::filesystem::exists(file)) {
        Sample write;
        if (!Run({"/proc/self/exe", "--write", file, std::to_string(shape.resources),
                  std::to_string(shape.categories)},
                 write))
            return 1;
        std::printf("wrote %s (%d resources, %d categories) in %.0f ms\n", file.c_str(),
                    shape.resources, shape.categories, write.ms);
    }
    std::printf("file: %.1f MB\n", static_cast<double>(std::filesystem::file_size(file)) / 1e6);

    std::vector<double> exportMs, openMs, processMs, scanMs;
    long exportPeak = 0, openPeak = 0, readerPeak = 0;
    long long sqliteBytes = 0, rows = 0;
    for (int run = 0; run < runs; ++run) {
        Sample list, tree;
        if (!Run({"/usr/bin/mdb-export", file, "List"}, list) ||
            !Run({"/usr/bin/mdb-export", file, "Tree"}, tree)) {
            std::fprintf(stderr, "mdb-export failed\n");
            return 1;
        }
        exportMs.push_back(list.ms + tree.ms);
        exportPeak = std::max({exportPeak, list.peakKb, tree.peakKb});

        Sample open;
        std::string output;
        if (!Run({"/proc/self/exe", "--materialise", file, shape.password}, open, &output)) {
            std::fprintf(stderr, "materialise failed\n");
            return 1;
        }
        double ms = 0, scan = 0;
        long reader = 0;
        std::sscanf(output.c_str(), "%lf %ld %lld %lld %lf", &ms, &reader, &sqliteBytes, &rows,
                    &scan);
        openMs.push_back(ms);
        processMs.push_back(open.ms);
        scanMs.push_back(scan);
        openPeak = std::max(openPeak, open.peakKb);
        readerPeak = std::max(readerPeak, reader);
    }
    const double ratio = Median(openMs) / Median(exportMs);
    std::printf("runs: %d, List rows: %lld\n", runs, rows);
    std::printf("%-40s %10s %12s\n", "", "median ms", "peak MB");
    std::printf("%-40s %10.1f %12.1f\n", "mdb-export List + Tree", Median(exportMs),
                static_cast<double>(exportPeak) / 1024);
    std::printf("%-40s %10.1f %12.1f\n", "MaterialiseMdb (open)", Median(openMs),
                static_cast<double>(openPeak) / 1024);
    std::printf("%-40s %10s %12.1f\n", "  of which the reading child", "",
                static_cast<double>(readerPeak) / 1024);
    std::printf("%-40s %10s %12.1f\n", "  SQLite memory after the open", "",
                static_cast<double>(sqliteBytes) / 1048576);
    std::printf("%-40s %10.1f\n", "whole process (start, open, scan, exit)", Median(processMs));
    std::printf("%-40s %10.1f\n", "scan all List columns in SQLite", Median(scanMs));
    std::printf("open / mdb-export = %.2f (limit 1.5)\n", ratio);
    return 0;
}

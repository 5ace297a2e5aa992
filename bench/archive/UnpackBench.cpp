// unpack7z through UnpackArchive (the archive library embedded in the program and loaded from
// memory) against Debian's `7zz x`, on the same LZMA2 archive of about 100 MB, in one run.
//
// The archive is generated once into VM_BENCH_DATA (or $VM_BENCH_DATA) and kept there: 180 MB
// of files, 70 MB incompressible (pictures, archives) and 110 MB of word-like text (catalogue
// pages), stored by `7zz a -m0=LZMA2 -mx=1`, which makes it quickly; the decoder's work hardly
// depends on the level.

#include "sys/Archive.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

int Run(const std::vector<std::string>& arguments, const fs::path& workingFolder = {}) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (started != 0 || waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path DataFolder() {
    const char* override = std::getenv("VM_BENCH_DATA");
    return override != nullptr ? fs::path(override) : fs::path(VM_BENCH_DATA);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

// The archive, made on first use.
fs::path Archive() {
    const fs::path archive = DataFolder() / "unpack-lzma2.7z";
    if (fs::exists(archive))
        return archive;
    const fs::path files = DataFolder() / "files";
    fs::remove_all(files);
    fs::create_directories(files / "pictures");
    fs::create_directories(files / "pages");
    std::mt19937_64 generator(7);
    for (int i = 0; i < 7; ++i) {
        std::string bytes(10 << 20, '\0');
        for (std::size_t at = 0; at < bytes.size(); at += 8) {
            const std::uint64_t value = generator();
            std::memcpy(bytes.data() + at, &value, 8);
        }
        WriteFile(files / "pictures" / ("picture" + std::to_string(i) + ".bin"), bytes);
    }
    std::vector<std::string> words;
    for (int i = 0; i < 6000; ++i) {
        std::string word;
        for (std::uint64_t n = 2 + generator() % 9; n > 0; --n)
            word += static_cast<char>('a' + generator() % 26);
        words.push_back(word);
    }
    for (int i = 0; i < 11; ++i) {
        std::string text;
        while (text.size() < (10u << 20)) {
            for (int w = 0; w < 12; ++w)
                text += words[generator() % words.size()] + ' ';
            text += "\r\n";
        }
        WriteFile(files / "pages" / ("page" + std::to_string(i) + ".htm"), text);
    }
    const fs::path partial = DataFolder() / "partial.7z";
    fs::remove(partial);
    if (Run({"7zz", "a", "-bd", "-m0=LZMA2", "-mx=1", partial.string(), "."}, files) != 0)
        return {};
    fs::rename(partial, archive);
    fs::remove_all(files);
    return archive;
}

std::string WindowsPath(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return text;
}

// Throughput in archive bytes read per second.
void CountBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(Archive())));
}

void Unpack7z(benchmark::State& state) {
    static vm::sys::ArchiveLibraryState library;
    if (!library.ready && !vm::sys::LoadBuiltinArchiveLibrary(library)) {
        state.SkipWithError("the archive library did not load");
        return;
    }
    const fs::path archive = Archive();
    const fs::path out = DataFolder() / "out-unpack7z";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
        if (!vm::sys::UnpackArchive(library, WindowsPath(archive), WindowsPath(out))) {
            state.SkipWithError("unpack7z failed");
            return;
        }
    }
    fs::remove_all(out);
    CountBytes(state);
}

void SevenZipExtract(benchmark::State& state) {
    const fs::path archive = Archive();
    const fs::path out = DataFolder() / "out-7zz";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
        if (Run({"7zz", "x", "-bd", "-y", "-o" + out.string(), archive.string()}) != 0) {
            state.SkipWithError("7zz x failed");
            return;
        }
    }
    fs::remove_all(out);
    CountBytes(state);
}

BENCHMARK(Unpack7z)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(SevenZipExtract)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Reports each run's real time so that the ratio can be printed after both ran.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    fs::create_directories(DataFolder());
    if (Archive().empty()) {
        std::fprintf(stderr, "could not make the archive with 7zz\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double ours = 0;
    double theirs = 0;
    for (const auto& [name, time] : reporter.times_) {
        if (name.rfind("Unpack7z", 0) == 0)
            ours = time;
        else if (name.rfind("SevenZipExtract", 0) == 0)
            theirs = time;
    }
    if (ours > 0 && theirs > 0)
        std::printf("archive %.1f MB; unpack7z / 7zz x = %.2f (limit 1.30)\n",
                    static_cast<double>(fs::file_size(Archive())) / 1e6, ours / theirs);
    benchmark::Shutdown();
    return 0;
}

// Browsing a generated catalogue of 100,000 resources in 2,000 categories (three levels,
// Chinese titles): StartCatalogue, and each ShowList action on the rows held in memory, with
// the list page in the headless browser (the real browser's own rendering aside). Beside them,
// in the same run: the literal exchange sort of the same results, and the same queries as
// statements through the database classes, every value read with getValue.
//
// Category 1 is given 5,000 resources and every second title the word 模块, so that a category
// of 5,000 and a search hitting 50,000 exist.

#include "catalogue/Catalogue.h"
#include "catalogue/ExchangeSort.h"
#include "catalogue/LiteralExchangeSort.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "mdbwriter/Catalogue.h"
#include "platform/fs/Path.h"
#include "platform/gui/Headless.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using namespace vm;

constexpr int kResources = 100000;
constexpr int kCategories = 2000;
constexpr int kBigCategory = 1;
constexpr int kBigCategorySize = 5000;
const char* const kColumns[] = {"ID",   "名称",     "介绍",   "作者", "地址", "视频",
                                "大小", "修改时间", "样式值", "权重", "编号"};

std::string U8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

// A folder of its own under /tmp, and its Windows path text (drive Z: is the root).
struct Folder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("vm-browse-" + std::to_string(::getpid()));
    Folder() { std::filesystem::create_directories(path); }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string windowsPath() const {
        std::string text = "Z:" + path.string() + "/";
        for (char& c : text)
            if (c == '/')
                c = '\\';
        return text;
    }
};

// "VmHWM" or "VmRSS" of /proc/self/status in MB.
double StatusMb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key + ":", 0) == 0)
            return std::atof(line.c_str() + key.size() + 1) / 1024.0;
    return 0;
}

// <chrono> cannot be had here: its "µs" has no GBK form.
double MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000 + static_cast<double>(now.tv_nsec) / 1e6;
}

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double PeakRssMb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

struct Setup {
    Folder folder;
    gui::Window* window = nullptr;
    std::unique_ptr<ui::MainWindow> main;
    db::DbConnection connection; // a second connection, for the statements
    double rssBeforeOpenMb = 0;
    double rssAfterOpenMb = 0;

    Setup() {
        std::filesystem::create_directories(folder.path / "set" / "dt");
        WriteCatalogue((folder.path / "set" / "TreeList.mdb").string());
        std::ofstream(folder.path / "set" / "dt" / "list.htm")
            << "<html><body><div id=\"list\"></div></body></html>";
        gui::UseHeadless();
        sys::SetProgramFolder(folder.windowsPath());
        catalogue::CreateCatalogueObjects();
        ui::MainWindowHandlers h;
        h.created = [this](gui::Window& w) {
            window = &w;
            w.control("编辑框_搜索框").setText(ui::kSearchPrompt);
            w.control("超文本浏览框1").navigate(folder.windowsPath() + "set\\dt\\list.htm");
        };
        main = std::make_unique<ui::MainWindow>(std::move(h));
        main->Load("http://forum.test");
        rssBeforeOpenMb = PeakRssMb();
        catalogue::StartCatalogue(*window);
        rssAfterOpenMb = PeakRssMb();
        connection.openAccess(folder.windowsPath() + "set\\TreeList.mdb",
                              std::string(catalogue::kCataloguePassword), 0);
    }

    static void WriteCatalogue(const std::string& path) {
        mdbwriter::CatalogueShape shape;
        shape.resources = kResources;
        shape.categories = kCategories;
        std::vector<mdbwriter::Row> list = mdbwriter::ListRows(shape);
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i < kBigCategorySize)
                list[i][0] = mdbwriter::Int(kBigCategory);
            if (i % 2 == 0)
                list[i][1] = mdbwriter::Str(std::get<std::string>(list[i][1]) + U8(u8"模块"));
        }
        mdbwriter::Writer writer({std::string(catalogue::kCataloguePassword), 0, true});
        const int tree = writer.addTable("Tree", mdbwriter::TreeColumns());
        const int table = writer.addTable("List", mdbwriter::ListColumns());
        for (const auto& row : mdbwriter::TreeRows(shape))
            writer.addRow(tree, row);
        for (const auto& row : list)
            writer.addRow(table, row);
        if (!writer.save(path))
            std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), writer.error().c_str());
    }

    void Search(std::string_view text) {
        gui::headless::TypeText(window->control("编辑框_搜索框"), text);
    }
};

// Never destroyed: destructors run after the ADO classes' static tables would call into freed
// memory. main() removes the folder.
Setup& S() {
    static Setup& setup = *new Setup;
    return setup;
}

std::vector<std::int32_t> WeightsOf(const catalogue::ResourceList& list) {
    std::vector<std::int32_t> weights;
    for (std::size_t i = 0; i < list.size(); ++i)
        weights.push_back(list[i].weight);
    return weights;
}

void BM_StartCatalogue(benchmark::State& state) {
    Setup& s = S();
    for (auto _ : state) {
        catalogue::CloseCatalogue();
        catalogue::StartCatalogue(*s.window);
    }
    state.counters["resources"] =
        static_cast<double>(catalogue::OpenCatalogueData()->List().size());
    state.counters["rss_before_open_MB"] = s.rssBeforeOpenMb;
    state.counters["peak_rss_MB"] = PeakRssMb();
}
BENCHMARK(BM_StartCatalogue)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenCatalogueOnly(benchmark::State& state) {
    for (auto _ : state) {
        catalogue::CloseCatalogue();
        catalogue::OpenCatalogue();
    }
}
BENCHMARK(BM_OpenCatalogueOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BuildTree(benchmark::State& state) {
    gui::Control& tree = S().window->control("树型框1");
    for (auto _ : state)
        catalogue::BuildTree(tree);
    state.counters["items"] = tree.itemCount();
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond);

void BM_ShowLatest(benchmark::State& state) {
    S().Search(ui::kSearchPrompt);
    for (auto _ : state)
        catalogue::ShowList(ui::kLatestUpdates);
    state.counters["records"] = static_cast<double>(catalogue::CurrentList().size());
}
BENCHMARK(BM_ShowLatest)->Unit(benchmark::kMillisecond);

void BM_ShowCategory5000(benchmark::State& state) {
    S().Search(ui::kSearchPrompt);
    for (auto _ : state)
        catalogue::ShowList(ui::kCategory, kBigCategory);
    state.counters["records"] = static_cast<double>(catalogue::CurrentList().size());
}
BENCHMARK(BM_ShowCategory5000)->Unit(benchmark::kMillisecond);

void BM_ShowSearch50000(benchmark::State& state) {
    S().Search("模块");
    for (auto _ : state)
        catalogue::ShowList(ui::kSearch);
    state.counters["records"] = static_cast<double>(catalogue::CurrentList().size());
    S().Search(ui::kSearchPrompt);
}
BENCHMARK(BM_ShowSearch50000)->Unit(benchmark::kMillisecond);

void BM_ShowSearchByAuthor(benchmark::State& state) {
    S().Search("@作者模");
    for (auto _ : state)
        catalogue::ShowList(ui::kSearch);
    state.counters["records"] = static_cast<double>(catalogue::CurrentList().size());
    S().Search(ui::kSearchPrompt);
}
BENCHMARK(BM_ShowSearchByAuthor)->Unit(benchmark::kMillisecond);

void BM_ShowRandom(benchmark::State& state) {
    for (auto _ : state)
        catalogue::ShowList(ui::kRandomPicks);
}
BENCHMARK(BM_ShowRandom)->Unit(benchmark::kMillisecond);

void BM_ShowNextAndPreviousPage(benchmark::State& state) {
    catalogue::ShowList(ui::kCategory, kBigCategory);
    bool forward = true;
    for (auto _ : state) {
        catalogue::ShowList(forward ? ui::kNextPage : ui::kPreviousPage);
        forward = !forward;
    }
}
BENCHMARK(BM_ShowNextAndPreviousPage)->Unit(benchmark::kMillisecond);

void BM_JumpToPage(benchmark::State& state) {
    catalogue::ShowList(ui::kCategory, kBigCategory);
    gui::Control& box = S().window->control("编辑框_页码");
    int page = 1;
    for (auto _ : state) {
        page = page % 600 + 17;
        gui::headless::TypeText(box, std::to_string(page));
        catalogue::ShowList(ui::kJumpToTypedPage);
    }
}
BENCHMARK(BM_JumpToPage)->Unit(benchmark::kMillisecond);

// --- the sort beside its literal procedure -----------------------------------------------------

const std::vector<std::int32_t>& CategoryWeights() {
    static const auto weights =
        WeightsOf(catalogue::CategoryQuery(catalogue::OpenCatalogueData(), kBigCategory));
    return weights;
}

const std::vector<std::int32_t>& SearchWeights() {
    static const auto weights =
        WeightsOf(catalogue::SearchQuery(catalogue::OpenCatalogueData(), "模块"));
    return weights;
}

void BM_FastSort_Category5000(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue::ExchangeSortOrder(CategoryWeights()));
    state.counters["n"] = static_cast<double>(CategoryWeights().size());
}
BENCHMARK(BM_FastSort_Category5000)->Unit(benchmark::kMillisecond);

void BM_LiteralSort_Category5000(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue::testing::LiteralExchangeSortOrder(CategoryWeights()));
    state.counters["n"] = static_cast<double>(CategoryWeights().size());
}
BENCHMARK(BM_LiteralSort_Category5000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FastSort_Search50000(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue::ExchangeSortOrder(SearchWeights()));
    state.counters["n"] = static_cast<double>(SearchWeights().size());
}
BENCHMARK(BM_FastSort_Search50000)->Unit(benchmark::kMillisecond);

void BM_LiteralSort_Search50000(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue::testing::LiteralExchangeSortOrder(SearchWeights()));
    state.counters["n"] = static_cast<double>(SearchWeights().size());
}
BENCHMARK(BM_LiteralSort_Search50000)->Unit(benchmark::kMillisecond)->Iterations(1);

// --- the same queries as statements
// ---------------------------------------------------------------

void RunStatement(benchmark::State& state, const std::string& statement) {
    long long rows = 0;
    for (auto _ : state) {
        db::DbRecordset r;
        r.setConnection(S().connection);
        r.open(statement);
        rows = 0;
        for (r.moveFirst(); !r.isEof(); r.moveNext()) {
            for (const char* column : kColumns)
                benchmark::DoNotOptimize(r.getValue(std::string(column)));
            ++rows;
        }
    }
    state.counters["records"] = static_cast<double>(rows);
}

void BM_Statement_Category5000(benchmark::State& state) {
    RunStatement(state,
                 "select * from List where ID=" + std::to_string(kBigCategory) + " order by 权重");
}
BENCHMARK(BM_Statement_Category5000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Statement_Search50000(benchmark::State& state) {
    RunStatement(state, "select * from List where 名称 like '%模块%' order by 权重");
}
BENCHMARK(BM_Statement_Search50000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Statement_MaxModified(benchmark::State& state) {
    for (auto _ : state) {
        db::DbCommand command;
        db::DbRecordset result;
        command.prepare(S().connection, "select max(修改时间) from List");
        command.executeInto(result, 1);
        benchmark::DoNotOptimize(result.getValue(result.fieldName(0)));
    }
}
BENCHMARK(BM_Statement_MaxModified)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

// The memory of a process that does nothing but load the main window and StartCatalogue on
// the catalogue in `programFolder`, as the program does at start-up (headless: without
// WebEngine, whose share the real-window test reports).
int MeasureOpen(const std::string& programFolder) {
    // The start-up writes the list page before the catalogue opens; a folder made by hand may
    // have none, and the headless browser would wait its full time for the missing page.
    const std::filesystem::path dt =
        std::filesystem::path(fs::ToLinuxPath(programFolder)) / "set" / "dt";
    if (!std::filesystem::exists(dt / "list.htm")) {
        std::filesystem::create_directories(dt);
        std::ofstream(dt / "list.htm") << "<html><body><div id=\"list\"></div></body></html>";
    }
    gui::UseHeadless();
    sys::SetProgramFolder(programFolder);
    catalogue::CreateCatalogueObjects();
    ui::MainWindowHandlers h;
    h.created = [&](gui::Window& w) {
        w.control("超文本浏览框1").navigate(programFolder + "set\\dt\\list.htm");
        const double before = StatusMb("VmRSS");
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        const double start = MonotonicMs();
        catalogue::StartCatalogue(w);
        const double wallMs = MonotonicMs() - start;
        std::printf("fresh process: StartCatalogue %.0f ms wall, CPU %.0f ms here and %.0f ms in "
                    "the reader; RSS %.1f MB before, %.1f MB after, peak %.1f MB, %zu "
                    "resources\n",
                    wallMs, (CpuSeconds(RUSAGE_SELF) - cpuBefore) * 1000,
                    CpuSeconds(RUSAGE_CHILDREN) * 1000, before, StatusMb("VmRSS"),
                    StatusMb("VmHWM"), catalogue::OpenCatalogueData()->List().size());
    };
    ui::MainWindow main(std::move(h));
    main.Load("http://forum.test");
    std::fflush(stdout);
    std::_Exit(0);
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--measure-open")
        return MeasureOpen(argv[2]);
    benchmark::Initialize(&argc, argv);
    S();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::fflush(stdout);
    std::system(("'" + self + "' --measure-open '" + S().folder.windowsPath() + "'").c_str());
    std::printf("peak RSS before the catalogue opens: %.1f MB; after StartCatalogue: %.1f MB\n",
                S().rssBeforeOpenMb, S().rssAfterOpenMb);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("peak RSS at the end: %.1f MB\n", PeakRssMb());
    vm::catalogue::CloseCatalogue();
    std::error_code ignored;
    std::filesystem::remove_all(S().folder.path, ignored);
    std::fflush(stdout);
    std::_Exit(0);
}

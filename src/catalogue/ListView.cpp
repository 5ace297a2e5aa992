// ShowList and what it drives: the list state, the controls above the list, the rendering of
// the current page into the browser.

#include "catalogue/Catalogue.h"
#include "catalogue/Render.h"
#include "catalogue/State.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"

#include <cmath>
#include <random>

namespace vm::catalogue {
namespace {

using detail::ListState;
using detail::TheState;

constexpr std::string_view kListTitleLabel = "透明标签_页数标题";
constexpr std::string_view kPageCountLabel = "透明标签_页数";
constexpr std::string_view kPageBox = "编辑框_页码";
constexpr std::string_view kSearchBox = "编辑框_搜索框";
constexpr std::string_view kTree = "树型框1";
constexpr std::string_view kBrowser = "超文本浏览框1";

constexpr std::string_view kLatestTitle = "最近更新";
constexpr std::string_view kSearchTitle = "搜索结果";
constexpr std::string_view kRandomTitle = "随便看看";

// The list page is written and loaded at start-up just before the first list is shown; a
// WebEngine that starts cold needs seconds. A page that never loads costs this wait once per
// list shown, and the list stays blank.
constexpr int kDocumentWaitMs = 10000;

gui::Window* MainWindow() {
    gui::Window* window = gui::Application::instance().findWindow(ui::kMainWindowClass);
    return window != nullptr && window->loaded() ? window : nullptr;
}

// The page box's text as Val reads a number, truncated; 0 for anything that is no page.
long long TypedPage(std::string_view text) {
    const double value = std::trunc(sys::ParseLeadingNumber(text));
    if (!std::isfinite(value) || value < -1e15 || value > 1e15)
        return 0;
    return static_cast<long long>(value);
}

std::uint32_t Draw(std::uint32_t n) {
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::uint32_t>(1, n)(generator);
}

void ClearTreeSelection(gui::Window& window) {
    // The change is made by the program (cause 0), which the tree's handler ignores.
    window.control(kTree).setCurrentItem(0);
}

// A new list: its pages, the page count, the page box's limit; the first page.
void TakeList(gui::Window& window, ListState& s, ResourceList list) {
    s.currentList = std::move(list);
    s.pageTable = Paginate(s.currentList.size());
    const int pages = s.currentList.empty() ? 1 : static_cast<int>(s.pageTable.size());
    s.pageBoxLimit = pages;
    s.currentPage = 1;
    window.control(kPageCountLabel)
        .setText(s.currentList.empty() ? std::string() : "共：" + std::to_string(pages) + "页");
}

std::string KeywordText(gui::Window& window) {
    std::string text = window.control(kSearchBox).text();
    return text == ui::kSearchPrompt ? std::string() : text;
}

void RenderPage(gui::Window& window, const ListState& s, const std::string& keywordText) {
    const std::string listTitle = window.control(kListTitleLabel).text();
    const std::string searchText = window.control(kSearchBox).text();
    PageInput in;
    in.list = &s.currentList;
    in.pages = &s.pageTable;
    in.page = s.currentPage;
    in.keywordText = keywordText;
    in.latestShown = s.latestShown;
    in.searchOrRandomShown = s.searchOrRandomShown;
    in.listTitle = listTitle;
    in.searchBoxText = searchText;
    in.programFolder = sys::ProgramFolder();
    in.data = TheState().data.get();
    InjectListHtml(window.control(kBrowser), TheState().document, RenderPageHtml(in),
                   kDocumentWaitMs);
}

} // namespace

// Never destroyed, like the database objects: the cached document belongs to a browser that
// is gone by the time static objects are destroyed.
detail::State& detail::TheState() {
    static State& state = *new State;
    return state;
}

void ShowList(int action, long long category, long long resourceNumber, bool locate) {
    detail::State& state = TheState();
    if (state.busy)
        return;
    gui::Window* window = MainWindow();
    if (window == nullptr)
        return;
    ListState& s = state.list;
    s.previousPage = s.currentPage;

    switch (action) {
    case ui::kJumpToTypedPage:
        s.currentPage = TypedPage(window->control(kPageBox).text());
        break;
    case ui::kPreviousPage:
        s.currentPage = s.previousPage - 1;
        break;
    case ui::kNextPage:
        s.currentPage = s.previousPage + 1;
        break;
    case ui::kLatestUpdates:
        TakeList(*window, s, LatestQuery(state.data));
        window->control(kListTitleLabel).setText(kLatestTitle);
        s.latestShown = true;
        s.currentPage = 1;
        ClearTreeSelection(*window);
        break;
    case ui::kCategory: {
        ResourceList list = CategoryQuery(state.data, category);
        if (list.empty())
            return;
        TakeList(*window, s, std::move(list));
        window->control(kListTitleLabel)
            .setText(CategoryTitle(CategoryName(state.data.get(), category)));
        s.searchOrRandomShown = false;
        s.latestShown = false;
        s.currentPage = 1;
        if (locate) {
            s.currentPage = PageOf(s.currentList, resourceNumber);
            ClearTreeSelection(*window);
        }
        break;
    }
    case ui::kSearch: {
        gui::Control& box = window->control(kSearchBox);
        const std::string text = box.text();
        if (text == ui::kSearchPrompt || text.empty()) {
            box.setFocus();
            return;
        }
        TakeList(*window, s, SearchQuery(state.data, text));
        window->control(kListTitleLabel).setText(kSearchTitle);
        s.searchOrRandomShown = true;
        break;
    }
    case ui::kRandomPicks:
        TakeList(*window, s, RandomQuery(state.data, Draw));
        window->control(kListTitleLabel).setText(kRandomTitle);
        s.searchOrRandomShown = true;
        break;
    default:
        return;
    }

    if (s.currentPage < 1 || s.currentPage > static_cast<long long>(s.pageTable.size())) {
        s.currentPage = s.previousPage;
        return;
    }
    window->control(kPageBox).setText(std::to_string(s.currentPage));
    RenderPage(*window, s, KeywordText(*window));
}

long long CurrentPage() {
    return TheState().list.currentPage;
}

const ResourceList& CurrentList() {
    return TheState().list.currentList;
}

const PageTable& CurrentPageTable() {
    return TheState().list.pageTable;
}

bool LatestShown() {
    return TheState().list.latestShown;
}

bool SearchOrRandomShown() {
    return TheState().list.searchOrRandomShown;
}

int PageBoxLimit() {
    return TheState().list.pageBoxLimit;
}

void ReleaseListState() {
    ListState& s = TheState().list;
    s.currentList = ResourceList();
    s.pageTable = PageTable{{0, 0}};
    s = ListState{};
}

void ReleaseCachedDocument() {
    TheState().document.reset();
}

bool CatalogueBusy() {
    return TheState().busy;
}

void SetCatalogueBusy(bool busy) {
    TheState().busy = busy;
}

std::string CategoryPath(std::string_view address) {
    return CategoryPath(detail::TheState().data.get(), address);
}

std::shared_ptr<const CatalogueData> OpenCatalogueData() {
    return detail::TheState().data;
}

void SetCatalogueData(std::shared_ptr<const CatalogueData> data) {
    detail::TheState().data = std::move(data);
}

} // namespace vm::catalogue

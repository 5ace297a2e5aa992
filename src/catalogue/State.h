#pragma once
// The program-wide catalogue state shared by the files of this folder.

#include "catalogue/Queries.h"
#include "platform/gui/Gui.h"

#include <atomic>
#include <memory>

namespace vm::catalogue::detail {

struct ListState {
    ResourceList currentList;
    PageTable pageTable{{0, 0}};
    long long currentPage = 0;
    long long previousPage = 0;
    bool latestShown = false;
    bool searchOrRandomShown = false;
    int pageBoxLimit = 1;
};

struct State {
    std::shared_ptr<const CatalogueData> data; // null while the catalogue is closed
    ListState list;
    std::shared_ptr<gui::Document> document;
    std::atomic<bool> busy{false};
};

State& TheState();

} // namespace vm::catalogue::detail

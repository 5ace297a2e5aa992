#pragma once
// The catalogue the main window browses: the program-wide catalogue state (the connection, the
// tables List and Tree, the list shown with its pages, the browser's cached document), opening
// and closing the catalogue, the category tree and ShowList, the one entry point for changing
// the list.
//
// Everything here runs on the GUI thread, except CatalogueBusy, which the catalogue update sets
// from its own thread.

#include "catalogue/Queries.h"
#include "platform/gui/Gui.h"

#include <memory>
#include <string>
#include <string_view>

namespace vm::catalogue {

constexpr std::string_view kCataloguePassword = "kq7.vm3rxp.tz";
constexpr std::string_view kCatalogueFile = "set\\TreeList.mdb";

// --- program-wide state -------------------------------------------------------------------

// Creates the connection and the two table objects, and empties the list state. Start-up
// calls it once before the main window loads; the release calls below undo it in the order of
// the exit clean-up.
void CreateCatalogueObjects();
// Exit clean-up, step 4: the connection (closing it), then the List and Tree tables.
void ReleaseCatalogueConnection();
// Exit clean-up, step 5: CurrentList with its records, then the page table.
void ReleaseListState();
// Exit clean-up, step 6: the browser document cached by the first list shown.
void ReleaseCachedDocument();

// Set while the catalogue file is being replaced: list actions then do nothing.
bool CatalogueBusy();
void SetCatalogueBusy(bool busy);

// --- opening -------------------------------------------------------------------------------

// Opens ProgramFolder + "set\TreeList.mdb" with the built-in password and reads both tables.
bool OpenCatalogue();
// Closes the connection and the tables when the connection is open; otherwise nothing.
void CloseCatalogue();
// A missing file: nothing. Otherwise opens it, builds the tree and shows the latest updates;
// when it cannot be opened, hides the main window, asks whether to report it (opening the
// forum's feedback thread on Yes) and ends the program.
void StartCatalogue(gui::Window& mainWindow);

// --- the tree ------------------------------------------------------------------------------

// Clears and fills the tree box: "最近更新" first, then the categories level by level, each
// level exchange-sorted by weight and placed under its parent (at the top level when the
// parent is missing); the first two top-level categories of the table are expanded.
void BuildTree(gui::Control& tree);

// --- the list ------------------------------------------------------------------------------

// Runs the query of `action` (a ui::ListAction) or moves between pages, updates the list
// title, the page count and the page box, and renders the page. Only kCategory uses the last three
// arguments: with `locate`, the page shown is the one holding the resource numbered
// `resourceNumber`.
void ShowList(int action, long long category = 0, long long resourceNumber = 0,
              bool locate = false);

long long CurrentPage();
const ResourceList& CurrentList();
const PageTable& CurrentPageTable();
bool LatestShown();
bool SearchOrRandomShown();
// The upper limit of the page box's number range (the page count, at least 1).
int PageBoxLimit();

// Category path of the List row with that address in the open catalogue (see Queries.h).
std::string CategoryPath(std::string_view address);

// The rows the browsing works on; OpenCatalogue sets them and CloseCatalogue drops them.
std::shared_ptr<const CatalogueData> OpenCatalogueData();
void SetCatalogueData(std::shared_ptr<const CatalogueData> data);

} // namespace vm::catalogue

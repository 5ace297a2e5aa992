#pragma once
// One page of a resource list as HTML, and putting it into the list page in the browser.

#include "catalogue/Queries.h"
#include "platform/gui/Gui.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vm::catalogue {

// Everything a page's HTML depends on besides the files under the resource folders.
struct PageInput {
    const ResourceList* list = nullptr;
    const PageTable* pages = nullptr;
    long long page = 1;
    std::string_view keywordText; // the search box's text, "" when it shows the prompt
    bool latestShown = false;
    bool searchOrRandomShown = false;
    std::string_view listTitle;     // the list title label's text
    std::string_view searchBoxText; // for the not-found text
    std::string_view programFolder; // Windows path text ending in "\"
    const CatalogueData* data = nullptr;
};

// The rows of the page (or the not-found text of an empty search), exactly as the list page
// receives them. Catalogue and user texts are escaped; keyword marks and links are not.
std::string RenderPageHtml(const PageInput& input);

// "&", "<", ">" and '"' as entities.
std::string HtmlEscape(std::string_view text);
// The title as HTML: each keyword (but the search prompt) marked in the title's own letter
// case, the text between the marks escaped.
std::string MarkKeywords(std::string_view title, const std::vector<std::string>& keywords);
// The day in UTC+8 of a time in seconds since 1970, as 2013年5月7日.
std::string DateText(long long seconds);
// Name of the resource's archive under `folder` (title + ".rar", ASCII letters in any case);
// "" when it is not there. Wildcard characters in the title are matched literally.
std::string FindArchive(std::string_view folder, std::string_view title);

// Puts `html` into the element "list" of the browser's page and lets the page's script colour
// the new rows. `document` caches the browser's document between calls. Waits, dispatching
// messages, while the page is still loading; gives up silently after `maxWaitMs`.
bool InjectListHtml(gui::Control& browser, std::shared_ptr<gui::Document>& document,
                    std::string_view html, int maxWaitMs);

} // namespace vm::catalogue

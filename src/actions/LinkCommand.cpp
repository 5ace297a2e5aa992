#include "actions/LinkCommand.h"

#include "actions/Download.h"
#include "actions/ResourcePage.h"
#include "catalogue/Catalogue.h"
#include "net/UrlText.h"
#include "platform/shell/Shell.h"
#include "platform/text/Gbk.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"

#include <array>
#include <cmath>

namespace vm::actions {
namespace {

constexpr std::array<std::string_view, 6> kMarkers = {"#id#", "#ck#", "#xz#",
                                                      "#js#", "#sp#", "#ss#"};
constexpr std::string_view kIntroductionLineBreak = "<br />&nbsp;&nbsp;&nbsp;&nbsp;";

// The record at a position argument; null for a position the list does not have (a page
// rendered from an older list, or a hand-made address).
const catalogue::ResourceRecord* RecordAt(std::string_view argument) {
    const double position = std::trunc(sys::ParseLeadingNumber(argument));
    if (!std::isfinite(position) || position < 1 || position > 1e15)
        return nullptr;
    return catalogue::CurrentList().At(static_cast<long long>(position));
}

void SearchAuthor(std::string_view name) {
    gui::Window* window = gui::Application::instance().findWindow(ui::kMainWindowClass);
    if (window == nullptr)
        return;
    window->control("编辑框_搜索框").setText("@" + std::string(name));
    catalogue::ShowList(ui::kSearch);
}

} // namespace

LinkCommand ParseLinkCommand(std::string_view address) {
    for (const std::string_view marker : kMarkers) {
        std::string argument = net::CutBetween(address, marker, marker);
        if (!argument.empty())
            return {std::string(marker), std::move(argument)};
    }
    return {};
}

void DispatchLinkCommand(gui::EventArgs& args) {
    args.cancel = true;
    const LinkCommand command = ParseLinkCommand(args.address);
    if (command.marker == "#ck#") {
        shell::RunCommandLine("Explorer /select, " + command.argument);
        return;
    }
    if (command.marker == "#ss#") {
        SearchAuthor(command.argument);
        return;
    }
    if (command.marker.empty())
        return;
    const catalogue::ResourceRecord* found = RecordAt(command.argument);
    if (found == nullptr)
        return;
    // A copy: the commands wait dispatching messages, and a list shown meanwhile replaces the
    // one the record lives in.
    const catalogue::ResourceRecord record = *found;
    if (command.marker == "#id#") {
        catalogue::ShowList(ui::kCategory, record.category, record.number, true);
    } else if (command.marker == "#xz#") {
        StartResourceDownload(record);
    } else if (command.marker == "#js#") {
        ShowResourcePage(text::ReplaceAll(record.introduction, "\r\n", kIntroductionLineBreak),
                         record.title, "");
    } else if (command.marker == "#sp#") {
        ShowResourcePage("", record.title, record.video);
    }
}

} // namespace vm::actions

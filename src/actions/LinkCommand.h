#pragma once
// The link commands of the resource list. Every action link in a list row opens in a new
// window; the browser's new-window event brings its address here, the command in it runs and
// the window never opens.
//
// A command is a marker, an argument and the same marker again, anywhere in the address:
//   #id#N#id#   show the category of record N at the page that holds it
//   #ck#P#ck#   show the file at path P in the file manager
//   #xz#N#xz#   download record N
//   #js#N#js#   show record N's introduction
//   #sp#N#sp#   show record N's video
//   #ss#T#ss#   search for T as an author
// N is a 1-based position in the current list. The first marker of that order that encloses a
// non-empty argument wins; markers match in any letter case.

#include "platform/gui/Gui.h"

#include <string>
#include <string_view>

namespace vm::actions {

struct LinkCommand {
    std::string marker; // "" when the address holds none
    std::string argument;
};

LinkCommand ParseLinkCommand(std::string_view address);

// The new-window handler: runs the command in `args.address` and cancels the window,
// whether or not a command ran.
void DispatchLinkCommand(gui::EventArgs& args);

} // namespace vm::actions

#pragma once
// The headless backend: the whole window model without widgets, for tests. Windows activate
// as soon as they are shown (FirstActivated is posted), message boxes take their answers from
// a queue, browsers load files from disk and keep a document that scripts can read back.

#include "platform/gui/Gui.h"

#include <functional>
#include <string>
#include <vector>

namespace vm::gui {

// Starts afresh with the headless backend on the calling thread, which becomes the GUI
// thread: every window is discarded, the exit state and callbacks are cleared.
void UseHeadless();

namespace headless {

struct ShownBox {
    std::string text, caption;
    int style = 0;
    int answer = 0;
};

// Answers for the next message boxes, in order. With none queued a box gives IDOK for the
// OK styles and IDNO for Yes/No, so an unanswered question never counts as consent.
void QueueAnswer(int answer);
// Every box shown since UseHeadless(), in order.
const std::vector<ShownBox>& ShownBoxes();

// Called with the window when a modal window's loop starts; it may fire events and close the
// window. Without one (or when it leaves the window loaded) the loop waits for posted work.
void SetModalDriver(std::function<void(Window&)> driver);

// Types into an edit box as a user would: the text changes, no event fires.
void TypeText(Control& editBox, std::string_view text);
// A key press in an edit box: KeyDown fires; unless swallowed, Enter (13) is dropped (the
// box has one line) and any other printable key is appended. Gives whether it was swallowed.
bool PressKey(Control& editBox, int key);
// A mouse or keyboard change of a tree box's current item (cause 1 or 2).
void SelectItem(Control& treeBox, int item, int cause);
// A link with target=_blank clicked in a browser: NewWindow fires; gives whether the new
// window would have opened (not cancelled).
bool ClickNewWindowLink(Control& browser, std::string_view address);
// The scripts run through a browser's document, in order.
std::vector<std::string> ScriptsRun(Control& browser);
// The whole text of a browser's current page as the document holds it now.
std::string PageText(Control& browser);

} // namespace headless
} // namespace vm::gui

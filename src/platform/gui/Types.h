#pragma once
// Value types of the window model. Every text in this module is GBK; the backends convert
// at the toolkit boundary.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vm::gui {

using Bytes = std::string; // encoded picture bytes (GIF, JPEG, BMP or PNG)

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Colour {
    unsigned char r = 0, g = 0, b = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

enum class ControlKind {
    GraphicButton,    // up to three pictures: normal, mouse over, pressed; hand cursor
    TransparentLabel, // text drawn over the window's background picture
    ShapeBox,         // plain frame that contains one child control
    EditBox,
    Label,
    PictureBox,
    TreeBox,
    Browser,
    GroupBox,
    RadioButton,
    CheckBox,
    PushButton,
};

enum class CursorShape { Default, Hand };

// A font as the window descriptions give it: height < 0 is the character height in pixels.
struct Font {
    std::string face{};
    int height = -12;
    int weight = 400;
    int charset = 134; // GB2312; informational on Linux
};

// One row of a window's control table.
struct ControlSpec {
    std::string name{};
    ControlKind kind = ControlKind::Label;
    std::string container{}; // design name of a shape box or group box; "" = the window
    Rect geometry{};         // relative to the container's client area
    std::string text{};
    std::optional<Colour> textColour{};
    std::optional<Colour> backColour{};
    std::optional<Font> font{};
    CursorShape cursor = CursorShape::Default;
    std::vector<Bytes> pictures{};
    bool visible = true;
    bool enabled = true;
};

enum class Border {
    None,        // no frame or caption: the window draws its own from its background picture
    Normal,      // resizable frame with caption
    NarrowFixed, // small caption, fixed size
};

struct WindowSpec {
    std::string className{};
    std::string title{};
    Rect geometry{}; // position and size of the client area on the screen
    Border border = Border::Normal;
    Bytes background{}; // picture covering the client area; empty = plain
    Rect dragArea{};    // border-less windows are dragged by this client area (empty = not at all)
    std::vector<ControlSpec> controls{};
    bool visible = true; // shown once the Created handlers have run
    // Design names of the controls Tab moves through, in this order (a graphic button named
    // here takes the focus from Tab, never from a click); empty = the toolkit's own order.
    std::vector<std::string> tabOrder{};
};

enum class Event {
    Created,            // window: after its controls exist, before it is shown
    FirstActivated,     // window: the first time it becomes the active window
    Clicked,            // graphic, push, radio and check buttons
    LeftButtonDown,     // transparent labels, picture boxes, labels
    GotFocus,           // edit box
    LostFocus,          // edit box
    KeyDown,            // edit box: key = key code (Enter 13); swallow = true eats the key.
                        // Bound to the window: every key pressed in it, before the control
                        // with the focus sees it (a form's key preview)
    CurrentItemChanged, // tree box: cause = 1 mouse, 2 keyboard, 0 program
    MouseMoved,         // tree box
    NewWindow,          // browser: address = target; cancel = true does not open it
    Resized,            // window: its client size changed
    Closed,             // window: about to unload; its controls can still be read
};

// What the page a browser control is sent to may do. Whatever the policy, a page never reads
// files outside the folder of the local page the program navigated to, and never navigates to a
// local file the program did not send it to.
struct PagePolicy {
    // The page's own scripts run. Pages from the web that the user reaches by a link always
    // run theirs, as any browser does.
    bool scripts = true;
    // Flash embeds play through the player beside the program, fed through a loopback relay
    // that lives while the page is shown. Needs scripts.
    bool flash = false;
    // For a Flash page: the movie's address. The movie and what it loads come only from its site.
    std::string movie{};
    // For a Flash page: the text of the one line the page shows instead of a movie that cannot
    // play; the movie's address follows it as a link that opens in the user's browser.
    std::string unplayable{};
};

struct EventArgs {
    int key = 0;
    int cause = 0;
    std::string address{};
    bool cancel = false;
    bool swallow = false;
};

using Handler = std::function<void(EventArgs&)>;

struct Binding {
    std::string control{}; // "" = the window itself
    Event event = Event::Created;
    Handler handler{};
};

// Message numbers the default procedure understands.
inline constexpr unsigned WM_ACTIVATE = 0x0006;
inline constexpr unsigned WM_CLOSE = 0x0010;
inline constexpr unsigned WM_SYSCOMMAND = 0x0112;
inline constexpr long long SC_MINIMIZE = 0xF020;
inline constexpr long long SC_RESTORE = 0xF120;
inline constexpr long long WS_SYSMENU = 0x00080000;

// Message-box styles and answers.
inline constexpr int MB_OK = 0;
inline constexpr int MB_YESNO = 4;
inline constexpr int MB_ICONINFORMATION = 64;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// A record that another process posted to a window.
struct PostedMessage {
    unsigned message = 0;
    long long wParam = 0;
    long long lParam = 0;
};

} // namespace vm::gui

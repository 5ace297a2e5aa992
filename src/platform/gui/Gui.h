#pragma once
// The toolkit-neutral window model: windows described as data, controls reached by design
// name, events bound to handlers, each window's message procedure chain, message boxes and
// the GUI thread's message loop. A backend (Qt for the program, headless for tests) realises
// it; the logic cannot tell which one runs. All texts are GBK.
//
// Threads: windows, controls and handlers belong to the GUI thread (the thread that chose the
// backend). A property set from another thread is stored in the model at once, so that thread
// reads back what it wrote, and the widget follows on the GUI thread; events always fire on
// the GUI thread.

#include "platform/gui/Types.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vm::kernel {
class MessageEndpoint;
}

namespace vm::gui {

class Application;
class Backend;
class ControlPeer;
struct PeerAccess;
class Window;
class WindowPeer;

// The browser control's document, bound late: members run in the page's script engine.
// Every call fails (nullopt / false) once the page it belongs to has gone. GUI thread.
class Document {
public:
    virtual ~Document() = default;
    virtual std::string url() const = 0;
    // getElementById(id).innerHTML; nullopt when the element is missing.
    virtual std::optional<std::string> innerHtml(std::string_view id) = 0;
    // getElementById(id).innerHTML = html; false when the element is missing.
    virtual bool setInnerHtml(std::string_view id, std::string_view html) = 0;
    // parentWindow.execScript(code, language); only JavaScript/JScript are supported.
    virtual bool execScript(std::string_view code, std::string_view language = "JScript") = 0;
    // Evaluates an expression and gives its value as text (nullopt on error or undefined).
    virtual std::optional<std::string> evaluate(std::string_view expression) = 0;
};

class Control {
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    ~Control();

    const std::string& name() const { return name_; }
    ControlKind kind() const { return kind_; }
    const std::string& container() const { return container_; }
    Window& window() const { return *window_; }

    std::string text() const;
    void setText(std::string_view text);
    Colour textColour() const;
    void setTextColour(Colour colour);
    CursorShape cursor() const;
    void setCursor(CursorShape cursor);
    bool visible() const;
    void setVisible(bool visible);
    bool enabled() const;
    void setEnabled(bool enabled);
    Rect geometry() const;
    void setGeometry(Rect geometry);
    std::vector<Bytes> pictures() const;
    void setPictures(std::vector<Bytes> pictures);
    std::optional<Font> font() const;         // as described; none = the default font
    std::optional<Colour> backColour() const; // as described; none = no background
    void setFocus();
    bool hasFocus() const;

    // Radio buttons and check boxes. Checking a radio button unchecks its siblings in the
    // same container.
    bool checked() const;
    void setChecked(bool checked);

    // Tree box. Items are ids > 0; 0 stands for the root (as a parent) or for no item.
    int addItem(int parent, std::string_view text, int image, long long value);
    void clearItems();
    int currentItem() const;
    // Fires CurrentItemChanged with cause 0 when the current item changes.
    void setCurrentItem(int item);
    long long itemValue(int item) const; // 0 for an unknown item
    std::string itemText(int item) const;
    int itemImage(int item) const;
    int itemParent(int item) const;
    void expand(int item, bool expanded);
    bool expanded(int item) const;
    void setItemBold(int item, bool bold);
    bool itemBold(int item) const;
    // Scrolls the tree so that `item` shows, expanding its ancestors.
    void makeItemVisible(int item);
    int itemMadeVisible() const; // the item last asked for; 0 for none
    int itemCount() const;
    std::vector<int> children(int parent) const;
    void setImageList(std::vector<Bytes> images);
    std::vector<Bytes> imageList() const;

    // Browser. File paths are Windows path texts ("Z:\home\..."); anything with a scheme is
    // taken as an address. The policy holds for the page and the pages it leads to.
    void navigate(std::string_view windowsPathOrUrl, const PagePolicy& policy = {});
    PagePolicy pagePolicy() const;        // of the last navigation
    std::shared_ptr<Document> document(); // null until a page is loaded
    std::string locationUrl() const;
    bool busy() const;

    // Runs the handlers bound to (this control, event) on the GUI thread and gives back the
    // arguments as they left them. Backends and tests raise events through here.
    EventArgs fire(Event event, EventArgs args = {});

private:
    friend class Application;
    friend class Window;
    friend class ControlPeer;
    friend struct PeerAccess;

    struct TreeItem {
        int id = 0;
        int parent = 0;
        std::string text;
        int image = 0;
        long long value = 0;
        bool expanded = false;
        bool bold = false;
    };

    Control(Window& window, const ControlSpec& spec);
    const TreeItem* item(int id) const;
    // Delivers a change to the widget: now on the GUI thread, posted from any other.
    void toPeer(std::function<void(ControlPeer&)> change);
    std::unique_lock<std::recursive_mutex> lock() const;

    Window* window_;
    std::string name_;
    ControlKind kind_;
    std::string container_;
    Rect geometry_;
    std::string text_;
    Colour textColour_;
    std::optional<Colour> backColour_;
    std::optional<Font> font_;
    CursorShape cursor_;
    std::vector<Bytes> pictures_;
    bool visible_;
    bool enabled_;
    bool checked_ = false;
    bool focus_ = false;
    std::vector<TreeItem> items_;
    int nextItem_ = 1;
    int current_ = 0;
    int madeVisible_ = 0;
    std::vector<Bytes> images_;
    std::string location_;
    PagePolicy policy_;
    std::unique_ptr<ControlPeer> peer_;
    std::vector<std::pair<Event, Handler>> handlers_;
};

class Window {
public:
    // GetWindowLongA / SetWindowLongA(GWL_WNDPROC) / CallWindowProcA.
    using Procedure =
        std::function<long long(Window&, unsigned message, long long wParam, long long lParam)>;

    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window();

    // Aborts on an unknown name: that is a programming error in a window description.
    Control& control(std::string_view designName);
    Control* find(std::string_view designName);
    std::vector<Control*> controls();

    void show();
    void hide();
    bool visible() const;
    void minimise();
    void restore();
    bool minimised() const;
    void activate(); // raise and make the active window
    bool active() const;
    void setTopMost(bool topMost);
    bool topMost() const;
    void setRoundedOutline(int ellipseWidth, int ellipseHeight);
    std::pair<int, int> roundedOutline() const;
    long long style() const;
    void setStyle(long long style); // stored; applied where Linux has a meaning for a bit
    Rect geometry() const;          // client area on the screen
    void setGeometry(Rect geometry);
    const std::string& className() const { return className_; }
    std::string title() const;
    void setTitle(std::string_view title);
    Border border() const { return border_; }
    const Bytes& background() const { return background_; }
    Rect dragArea() const { return dragArea_; }
    const std::vector<std::string>& tabOrder() const { return tabOrder_; }
    Window* parent() const { return parent_; }
    bool modal() const { return modal_; }

    Procedure procedure() const;
    void setProcedure(Procedure procedure);
    long long callProcedure(const Procedure& procedure, unsigned message, long long wParam,
                            long long lParam);
    // Through the current procedure, on the GUI thread (blocking from another thread).
    long long sendMessage(unsigned message, long long wParam, long long lParam);
    void postMessage(unsigned message, long long wParam, long long lParam);
    // The procedure every window starts with: WM_CLOSE unloads the window (and ends the
    // program when it is the main window), WM_SYSCOMMAND SC_RESTORE / SC_MINIMIZE restore or
    // minimise, WM_ACTIVATE with wParam != 0 raises and activates; everything else gives 0.
    static long long DefaultProcedure(Window& window, unsigned message, long long wParam,
                                      long long lParam);

    // Unloads the window now: Closed fires, then its widgets go. The Window object itself
    // stays valid (loaded() false) until the program ends, so saved pointers never dangle.
    void close();
    bool loaded() const;

    EventArgs fire(Event event, EventArgs args = {});

private:
    friend class Application;
    friend class Control;
    friend class ControlPeer;
    friend class WindowPeer;
    friend struct PeerAccess;

    Window(const WindowSpec& spec, Window* parent, bool modal);
    void createControls(const std::vector<ControlSpec>& specs);
    void bind(std::vector<Binding> bindings);
    void toPeer(std::function<void(WindowPeer&)> change);
    std::unique_lock<std::recursive_mutex> lock() const;

    std::string className_;
    std::string title_;
    Rect geometry_;
    Border border_;
    Bytes background_;
    Rect dragArea_;
    std::vector<std::string> tabOrder_;
    Window* parent_;
    bool modal_;
    bool loaded_ = true;
    bool visible_ = false;
    bool minimised_ = false;
    bool active_ = false;
    bool everActivated_ = false;
    bool topMost_ = false;
    std::pair<int, int> outline_{0, 0};
    long long style_ = 0;
    Procedure procedure_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::unique_ptr<WindowPeer> peer_;
    std::vector<std::pair<Event, Handler>> handlers_;
};

// The GUI thread and its message loop; one per process.
class Application {
public:
    static Application& instance();

    // Loads a window: controls are created, the bindings attached, Created fires, then the
    // window is shown (when its description says visible). Modal: a nested loop runs until
    // that window unloads. The first window loaded without a parent is the main window.
    Window& loadWindow(const WindowSpec& spec, std::vector<Binding> bindings,
                       Window* parent = nullptr, bool modal = false);
    Window* mainWindow() const;
    // A loaded window by class name, or null.
    Window* findWindow(std::string_view className) const;

    // The message loop; returns the exit code given to endProgram (0 when the loop ran out
    // because the main window unloaded).
    int run();
    // The orderly end: runs the exit callbacks once, in registration order, unloads every
    // window and ends every loop. Called before run(), run() returns at once. From another
    // thread it is carried out on the GUI thread.
    void endProgram(int exitCode);
    bool ended() const;
    int exitCode() const;
    void onExit(std::function<void()> callback);

    bool isGuiThread() const;
    void post(std::function<void()> task);   // to the GUI thread, from any thread, in order
    void invoke(std::function<void()> task); // blocking; inline on the GUI thread
    // Dispatches what is waiting, first waiting up to maxWaitMs for something to arrive. This
    // is also the GUI thread's message pump for the kernel's timed waits.
    void processPending(int maxWaitMs = 0);

    // 0 / 64: OK (gives IDOK); 4 / 68 (0x44): Yes and No (IDYES or IDNO). No owner window,
    // modal for the whole application. An empty caption takes the application's name.
    int messageBox(std::string_view text, std::string_view caption, int style);

    // Watches a datagram descriptor on the GUI thread: whenever it is readable, drain() gives
    // the records waiting, and each reaches the window's current procedure, in order. Stops
    // when the window unloads.
    void listenForMessages(Window& window, int fd,
                           std::function<std::vector<PostedMessage>()> drain);
    // The same for the window-message endpoint of the window's class. The endpoint must
    // outlive the window (or the end of the program).
    void listenForMessages(Window& window, kernel::MessageEndpoint& endpoint);

    // --- for backends ---
    void setBackend(std::unique_ptr<Backend> backend); // starts afresh on the calling thread
    Backend& backend() const;
    bool hasBackend() const { return backend_ != nullptr; }
    void runTasks(); // runs the posted tasks that are waiting (GUI thread)
    std::recursive_mutex& modelMutex() const { return model_; }

private:
    Application() = default;
    void finishEnd();
    void windowUnloaded(Window& window);
    friend class Window;

    mutable std::recursive_mutex model_;
    std::unique_ptr<Backend> backend_;
    std::thread::id guiThread_;
    std::vector<std::unique_ptr<Window>> windows_;
    Window* main_ = nullptr;
    std::vector<std::function<void()>> exitCallbacks_;
    std::atomic<bool> ended_{false};
    std::atomic<int> exitCode_{0};
    bool exitRan_ = false;

    std::mutex tasksMutex_;
    std::deque<std::function<void()>> tasks_;
};

} // namespace vm::gui

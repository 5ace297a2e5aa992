#pragma once
// What a backend implements to realise the window model. The model owns the state; a peer
// mirrors it into a widget (update calls, always on the GUI thread) and reports what the user
// changed through the protected store* helpers, which do not echo back to the peer.

#include "platform/gui/Gui.h"

#include <functional>
#include <memory>

namespace vm::gui {

enum class Property {
    Text,
    TextColour,
    Cursor,
    Visible,
    Enabled,
    Geometry,
    Pictures,
    Checked,
    Focus
};

class ControlPeer {
public:
    virtual ~ControlPeer() = default;
    virtual void update(Property) {}
    // Tree box.
    virtual void itemAdded(int /*id*/) {}
    virtual void itemsCleared() {}
    virtual void currentItemSet(int /*id*/) {}
    virtual void itemExpanded(int /*id*/, bool /*expanded*/) {}
    virtual void itemBoldSet(int /*id*/, bool /*bold*/) {}
    virtual void itemMadeVisible(int /*id*/) {}
    virtual void imagesSet() {}
    // Browser.
    virtual void navigate(const std::string& /*target: Windows path text or address*/,
                          const PagePolicy& /*policy*/) {}
    virtual std::shared_ptr<Document> document() { return nullptr; }
    virtual std::string locationUrl() const { return {}; }
    virtual bool busy() const { return false; }

protected:
    static void storeText(Control& control, std::string text);
    static void storeChecked(Control& control, bool checked);
    static void storeFocus(Control& control, bool focus);
    // Makes `item` current and fires CurrentItemChanged with `cause` when it changed.
    static void storeCurrentItem(Control& control, int item, int cause);
    static void storeExpanded(Control& control, int item, bool expanded);
};

class WindowPeer {
public:
    virtual ~WindowPeer() = default;
    virtual void show() {}
    virtual void hide() {}
    virtual void minimise() {}
    virtual void restore() {}
    virtual void activate() {}
    virtual void setTopMost(bool) {}
    virtual void setRoundedOutline(int /*ellipseWidth*/, int /*ellipseHeight*/) {}
    virtual void setStyle(long long) {}
    virtual void setGeometry(Rect) {}
    virtual void setTitle() {}

protected:
    static void storeGeometry(Window& window, Rect geometry); // fires Resized on a size change
    static void storeMinimised(Window& window, bool minimised);
    // Fires FirstActivated the first time; active = false records losing activation.
    static void storeActive(Window& window, bool active);
    static void storeVisible(Window& window, bool visible);
};

class Backend {
public:
    virtual ~Backend() = default;
    // Called after the model objects exist, before Created fires. A control's container
    // peer (shape or group box) is created before the controls it contains.
    virtual std::unique_ptr<WindowPeer> createWindow(Window& window) = 0;
    virtual std::unique_ptr<ControlPeer> createControl(Control& control, WindowPeer& window,
                                                       ControlPeer* container) = 0;
    // Tasks are waiting: have Application::runTasks called on the GUI thread soon.
    // Called from any thread.
    virtual void wake() = 0;
    // Dispatches until done() holds; done is checked again after every wakeLoops().
    virtual void runLoop(const std::function<bool()>& done) = 0;
    virtual void wakeLoops() = 0;
    virtual void processPending(int maxWaitMs) = 0;
    virtual int messageBox(const std::string& text, const std::string& caption, int style) = 0;
    // Calls readable() on the GUI thread whenever fd can be read, until unwatch(fd).
    virtual void watch(int fd, std::function<void()> readable) = 0;
    virtual void unwatch(int fd) = 0;
};

// The peer behind a model object (null when unloaded), for backends and their tests.
struct PeerAccess {
    static WindowPeer* Of(Window& window);
    static ControlPeer* Of(Control& control);
};

} // namespace vm::gui

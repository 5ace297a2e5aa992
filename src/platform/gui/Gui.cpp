#include "platform/gui/Gui.h"

#include "platform/gui/Backend.h"

#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/Thread.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>

namespace vm::gui {
namespace {

[[noreturn]] void Fail(std::string_view what, std::string_view name) {
    std::fprintf(stderr, "vm::gui: %.*s: %.*s\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(name.size()), name.data());
    std::abort();
}

// Runs the handlers bound to `event`; copies the list first because a handler may bind,
// unload or end the program.
EventArgs Dispatch(const std::vector<std::pair<Event, Handler>>& handlers, Event event,
                   EventArgs args) {
    std::vector<Handler> matching;
    for (const auto& [bound, handler] : handlers)
        if (bound == event && handler)
            matching.push_back(handler);
    for (auto& handler : matching)
        handler(args);
    return args;
}

Application& App() {
    return Application::instance();
}

} // namespace

// ---------------------------------------------------------------------------------------
// Control

Control::Control(Window& window, const ControlSpec& spec)
    : window_(&window), name_(spec.name), kind_(spec.kind), container_(spec.container),
      geometry_(spec.geometry), text_(spec.text), textColour_(spec.textColour.value_or(Colour{})),
      backColour_(spec.backColour), font_(spec.font), cursor_(spec.cursor),
      pictures_(spec.pictures), visible_(spec.visible), enabled_(spec.enabled) {
    // Graphic buttons always show the hand, as the owner-drawn buttons they stand for do.
    if (kind_ == ControlKind::GraphicButton)
        cursor_ = CursorShape::Hand;
}

Control::~Control() = default;

std::unique_lock<std::recursive_mutex> Control::lock() const {
    return std::unique_lock(App().modelMutex());
}

void Control::toPeer(std::function<void(ControlPeer&)> change) {
    if (App().isGuiThread()) {
        if (peer_)
            change(*peer_);
        return;
    }
    App().post([this, change = std::move(change)] {
        if (peer_)
            change(*peer_);
    });
}

std::string Control::text() const {
    auto guard = lock();
    return text_;
}

void Control::setText(std::string_view text) {
    {
        auto guard = lock();
        text_ = std::string(text);
    }
    toPeer([](ControlPeer& p) { p.update(Property::Text); });
}

Colour Control::textColour() const {
    auto guard = lock();
    return textColour_;
}

void Control::setTextColour(Colour colour) {
    {
        auto guard = lock();
        textColour_ = colour;
    }
    toPeer([](ControlPeer& p) { p.update(Property::TextColour); });
}

CursorShape Control::cursor() const {
    auto guard = lock();
    return cursor_;
}

void Control::setCursor(CursorShape cursor) {
    {
        auto guard = lock();
        cursor_ = cursor;
    }
    toPeer([](ControlPeer& p) { p.update(Property::Cursor); });
}

bool Control::visible() const {
    auto guard = lock();
    return visible_;
}

void Control::setVisible(bool visible) {
    {
        auto guard = lock();
        visible_ = visible;
    }
    toPeer([](ControlPeer& p) { p.update(Property::Visible); });
}

bool Control::enabled() const {
    auto guard = lock();
    return enabled_;
}

void Control::setEnabled(bool enabled) {
    {
        auto guard = lock();
        enabled_ = enabled;
    }
    toPeer([](ControlPeer& p) { p.update(Property::Enabled); });
}

Rect Control::geometry() const {
    auto guard = lock();
    return geometry_;
}

void Control::setGeometry(Rect geometry) {
    {
        auto guard = lock();
        geometry_ = geometry;
    }
    toPeer([](ControlPeer& p) { p.update(Property::Geometry); });
}

std::vector<Bytes> Control::pictures() const {
    auto guard = lock();
    return pictures_;
}

void Control::setPictures(std::vector<Bytes> pictures) {
    {
        auto guard = lock();
        pictures_ = std::move(pictures);
    }
    toPeer([](ControlPeer& p) { p.update(Property::Pictures); });
}

std::optional<Font> Control::font() const {
    auto guard = lock();
    return font_;
}

std::optional<Colour> Control::backColour() const {
    auto guard = lock();
    return backColour_;
}

void Control::setFocus() {
    toPeer([](ControlPeer& p) { p.update(Property::Focus); });
}

bool Control::hasFocus() const {
    auto guard = lock();
    return focus_;
}

bool Control::checked() const {
    auto guard = lock();
    return checked_;
}

void Control::setChecked(bool checked) {
    std::vector<Control*> changed{this};
    {
        auto guard = lock();
        checked_ = checked;
        if (checked && kind_ == ControlKind::RadioButton) {
            for (auto& other : window_->controls_) {
                if (other.get() != this && other->kind_ == ControlKind::RadioButton &&
                    other->container_ == container_ && other->checked_) {
                    other->checked_ = false;
                    changed.push_back(other.get());
                }
            }
        }
    }
    for (Control* control : changed)
        control->toPeer([](ControlPeer& p) { p.update(Property::Checked); });
}

const Control::TreeItem* Control::item(int id) const {
    for (const auto& entry : items_)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

int Control::addItem(int parent, std::string_view text, int image, long long value) {
    int id = 0;
    {
        auto guard = lock();
        if (parent != 0 && !item(parent))
            return 0;
        id = nextItem_++;
        items_.push_back(TreeItem{id, parent, std::string(text), image, value, false});
    }
    toPeer([id](ControlPeer& p) { p.itemAdded(id); });
    return id;
}

void Control::clearItems() {
    {
        auto guard = lock();
        items_.clear();
        current_ = 0;
        madeVisible_ = 0;
    }
    toPeer([](ControlPeer& p) { p.itemsCleared(); });
}

int Control::currentItem() const {
    auto guard = lock();
    return current_;
}

void Control::setCurrentItem(int item) {
    {
        auto guard = lock();
        if ((item != 0 && !this->item(item)) || item == current_)
            return;
        current_ = item;
    }
    toPeer([item](ControlPeer& p) { p.currentItemSet(item); });
    auto notify = [this] {
        EventArgs args;
        args.cause = 0;
        fire(Event::CurrentItemChanged, args);
    };
    if (App().isGuiThread())
        notify();
    else
        App().post(notify);
}

long long Control::itemValue(int id) const {
    auto guard = lock();
    const TreeItem* entry = item(id);
    return entry ? entry->value : 0;
}

std::string Control::itemText(int id) const {
    auto guard = lock();
    const TreeItem* entry = item(id);
    return entry ? entry->text : std::string();
}

int Control::itemImage(int id) const {
    auto guard = lock();
    const TreeItem* entry = item(id);
    return entry ? entry->image : 0;
}

int Control::itemParent(int id) const {
    auto guard = lock();
    const TreeItem* entry = item(id);
    return entry ? entry->parent : 0;
}

void Control::expand(int id, bool expanded) {
    {
        auto guard = lock();
        auto it = std::find_if(items_.begin(), items_.end(),
                               [id](const TreeItem& entry) { return entry.id == id; });
        if (it == items_.end())
            return;
        it->expanded = expanded;
    }
    toPeer([id, expanded](ControlPeer& p) { p.itemExpanded(id, expanded); });
}

bool Control::expanded(int id) const {
    auto guard = lock();
    const TreeItem* entry = item(id);
    return entry && entry->expanded;
}

void Control::setItemBold(int id, bool bold) {
    {
        auto guard = lock();
        auto it = std::find_if(items_.begin(), items_.end(),
                               [id](const TreeItem& entry) { return entry.id == id; });
        if (it == items_.end())
            return;
        it->bold = bold;
    }
    toPeer([id, bold](ControlPeer& p) { p.itemBoldSet(id, bold); });
}

bool Control::itemBold(int id) const {
    auto guard = lock();
    const TreeItem* entry = item(id);
    return entry && entry->bold;
}

void Control::makeItemVisible(int id) {
    {
        auto guard = lock();
        if (!item(id))
            return;
        madeVisible_ = id;
    }
    toPeer([id](ControlPeer& p) { p.itemMadeVisible(id); });
}

int Control::itemMadeVisible() const {
    auto guard = lock();
    return madeVisible_;
}

int Control::itemCount() const {
    auto guard = lock();
    return static_cast<int>(items_.size());
}

std::vector<int> Control::children(int parent) const {
    auto guard = lock();
    std::vector<int> ids;
    for (const auto& entry : items_)
        if (entry.parent == parent)
            ids.push_back(entry.id);
    return ids;
}

void Control::setImageList(std::vector<Bytes> images) {
    {
        auto guard = lock();
        images_ = std::move(images);
    }
    toPeer([](ControlPeer& p) { p.imagesSet(); });
}

std::vector<Bytes> Control::imageList() const {
    auto guard = lock();
    return images_;
}

void Control::navigate(std::string_view target, const PagePolicy& policy) {
    {
        auto guard = lock();
        location_ = std::string(target);
        policy_ = policy;
    }
    toPeer([target = std::string(target), policy](ControlPeer& p) { p.navigate(target, policy); });
}

PagePolicy Control::pagePolicy() const {
    auto guard = lock();
    return policy_;
}

std::shared_ptr<Document> Control::document() {
    std::shared_ptr<Document> result;
    auto get = [&] { result = peer_ ? peer_->document() : nullptr; };
    if (App().isGuiThread())
        get();
    else
        App().invoke(get);
    return result;
}

std::string Control::locationUrl() const {
    std::string result;
    auto get = [&] { result = peer_ ? peer_->locationUrl() : std::string(); };
    if (App().isGuiThread())
        get();
    else
        App().invoke(get);
    return result;
}

bool Control::busy() const {
    bool result = false;
    auto get = [&] { result = peer_ && peer_->busy(); };
    if (App().isGuiThread())
        get();
    else
        App().invoke(get);
    return result;
}

EventArgs Control::fire(Event event, EventArgs args) {
    if (!App().isGuiThread()) {
        App().invoke([&] { args = fire(event, args); });
        return args;
    }
    std::vector<std::pair<Event, Handler>> handlers;
    {
        auto guard = lock();
        if (!window_->loaded_)
            return args;
        handlers = handlers_;
    }
    return Dispatch(handlers, event, std::move(args));
}

// ---------------------------------------------------------------------------------------
// ControlPeer / WindowPeer store helpers (GUI thread, called by backends)

void ControlPeer::storeText(Control& control, std::string text) {
    auto guard = control.lock();
    control.text_ = std::move(text);
}

void ControlPeer::storeChecked(Control& control, bool checked) {
    std::vector<Control*> others;
    {
        auto guard = control.lock();
        control.checked_ = checked;
        if (checked && control.kind_ == ControlKind::RadioButton) {
            for (auto& other : control.window_->controls_) {
                if (other.get() != &control && other->kind_ == ControlKind::RadioButton &&
                    other->container_ == control.container_ && other->checked_) {
                    other->checked_ = false;
                    others.push_back(other.get());
                }
            }
        }
    }
    // The toolkit may keep radio groups by widget parent, not by design container.
    for (Control* other : others)
        other->toPeer([](ControlPeer& p) { p.update(Property::Checked); });
}

void ControlPeer::storeFocus(Control& control, bool focus) {
    auto guard = control.lock();
    control.focus_ = focus;
}

void ControlPeer::storeCurrentItem(Control& control, int item, int cause) {
    {
        auto guard = control.lock();
        if (item == control.current_)
            return;
        control.current_ = item;
    }
    EventArgs args;
    args.cause = cause;
    control.fire(Event::CurrentItemChanged, args);
}

void ControlPeer::storeExpanded(Control& control, int id, bool expanded) {
    auto guard = control.lock();
    for (auto& entry : control.items_)
        if (entry.id == id)
            entry.expanded = expanded;
}

void WindowPeer::storeGeometry(Window& window, Rect geometry) {
    bool resized = false;
    {
        auto guard = window.lock();
        resized =
            geometry.width != window.geometry_.width || geometry.height != window.geometry_.height;
        window.geometry_ = geometry;
    }
    if (resized)
        window.fire(Event::Resized);
}

void WindowPeer::storeMinimised(Window& window, bool minimised) {
    auto guard = window.lock();
    window.minimised_ = minimised;
}

void WindowPeer::storeActive(Window& window, bool active) {
    bool first = false;
    {
        auto guard = window.lock();
        window.active_ = active;
        if (active && !window.everActivated_) {
            window.everActivated_ = true;
            first = true;
        }
    }
    if (first)
        window.fire(Event::FirstActivated);
}

void WindowPeer::storeVisible(Window& window, bool visible) {
    auto guard = window.lock();
    window.visible_ = visible;
}

WindowPeer* PeerAccess::Of(Window& window) {
    return window.peer_.get();
}

ControlPeer* PeerAccess::Of(Control& control) {
    return control.peer_.get();
}

// ---------------------------------------------------------------------------------------
// Window

Window::Window(const WindowSpec& spec, Window* parent, bool modal)
    : className_(spec.className), title_(spec.title), geometry_(spec.geometry),
      border_(spec.border), background_(spec.background), dragArea_(spec.dragArea),
      tabOrder_(spec.tabOrder), parent_(parent), modal_(modal),
      procedure_(&Window::DefaultProcedure) {}

Window::~Window() {
    // Widgets go before the model objects they mirror.
    for (auto& control : controls_)
        control->peer_.reset();
    peer_.reset();
}

std::unique_lock<std::recursive_mutex> Window::lock() const {
    return std::unique_lock(App().modelMutex());
}

void Window::toPeer(std::function<void(WindowPeer&)> change) {
    if (App().isGuiThread()) {
        if (peer_)
            change(*peer_);
        return;
    }
    App().post([this, change = std::move(change)] {
        if (peer_)
            change(*peer_);
    });
}

void Window::createControls(const std::vector<ControlSpec>& specs) {
    for (const auto& spec : specs) {
        if (find(spec.name))
            Fail("duplicate control name", spec.name);
        controls_.push_back(std::unique_ptr<Control>(new Control(*this, spec)));
    }
    for (const auto& control : controls_)
        if (!control->container_.empty() && !find(control->container_))
            Fail("unknown container", control->container_);
}

void Window::bind(std::vector<Binding> bindings) {
    for (auto& binding : bindings) {
        if (binding.control.empty())
            handlers_.emplace_back(binding.event, std::move(binding.handler));
        else
            control(binding.control)
                .handlers_.emplace_back(binding.event, std::move(binding.handler));
    }
}

Control& Window::control(std::string_view designName) {
    Control* found = find(designName);
    if (!found)
        Fail("no control named", designName);
    return *found;
}

Control* Window::find(std::string_view designName) {
    for (auto& control : controls_)
        if (control->name_ == designName)
            return control.get();
    return nullptr;
}

std::vector<Control*> Window::controls() {
    std::vector<Control*> all;
    for (auto& control : controls_)
        all.push_back(control.get());
    return all;
}

void Window::show() {
    {
        auto guard = lock();
        if (!loaded_)
            return;
        visible_ = true;
    }
    toPeer([](WindowPeer& p) { p.show(); });
}

void Window::hide() {
    {
        auto guard = lock();
        visible_ = false;
    }
    toPeer([](WindowPeer& p) { p.hide(); });
}

bool Window::visible() const {
    auto guard = lock();
    return visible_;
}

void Window::minimise() {
    {
        auto guard = lock();
        minimised_ = true;
    }
    toPeer([](WindowPeer& p) { p.minimise(); });
}

void Window::restore() {
    {
        auto guard = lock();
        minimised_ = false;
    }
    toPeer([](WindowPeer& p) { p.restore(); });
}

bool Window::minimised() const {
    auto guard = lock();
    return minimised_;
}

void Window::activate() {
    toPeer([](WindowPeer& p) { p.activate(); });
}

bool Window::active() const {
    auto guard = lock();
    return active_;
}

void Window::setTopMost(bool topMost) {
    {
        auto guard = lock();
        topMost_ = topMost;
    }
    toPeer([topMost](WindowPeer& p) { p.setTopMost(topMost); });
}

bool Window::topMost() const {
    auto guard = lock();
    return topMost_;
}

void Window::setRoundedOutline(int ellipseWidth, int ellipseHeight) {
    {
        auto guard = lock();
        outline_ = {ellipseWidth, ellipseHeight};
    }
    toPeer([ellipseWidth, ellipseHeight](WindowPeer& p) {
        p.setRoundedOutline(ellipseWidth, ellipseHeight);
    });
}

std::pair<int, int> Window::roundedOutline() const {
    auto guard = lock();
    return outline_;
}

long long Window::style() const {
    auto guard = lock();
    return style_;
}

void Window::setStyle(long long style) {
    {
        auto guard = lock();
        style_ = style;
    }
    toPeer([style](WindowPeer& p) { p.setStyle(style); });
}

Rect Window::geometry() const {
    auto guard = lock();
    return geometry_;
}

void Window::setGeometry(Rect geometry) {
    bool resized = false;
    {
        auto guard = lock();
        resized = geometry.width != geometry_.width || geometry.height != geometry_.height;
        geometry_ = geometry;
    }
    toPeer([geometry](WindowPeer& p) { p.setGeometry(geometry); });
    if (resized) {
        if (App().isGuiThread())
            fire(Event::Resized);
        else
            App().post([this] { fire(Event::Resized); });
    }
}

std::string Window::title() const {
    auto guard = lock();
    return title_;
}

void Window::setTitle(std::string_view title) {
    {
        auto guard = lock();
        title_ = std::string(title);
    }
    toPeer([](WindowPeer& p) { p.setTitle(); });
}

Window::Procedure Window::procedure() const {
    auto guard = lock();
    return procedure_;
}

void Window::setProcedure(Procedure procedure) {
    auto guard = lock();
    procedure_ = std::move(procedure);
}

long long Window::callProcedure(const Procedure& procedure, unsigned message, long long wParam,
                                long long lParam) {
    return procedure ? procedure(*this, message, wParam, lParam) : 0;
}

long long Window::sendMessage(unsigned message, long long wParam, long long lParam) {
    long long result = 0;
    auto deliver = [&] {
        if (loaded())
            result = callProcedure(procedure(), message, wParam, lParam);
    };
    if (App().isGuiThread())
        deliver();
    else
        App().invoke(deliver);
    return result;
}

void Window::postMessage(unsigned message, long long wParam, long long lParam) {
    App().post([this, message, wParam, lParam] { sendMessage(message, wParam, lParam); });
}

long long Window::DefaultProcedure(Window& window, unsigned message, long long wParam,
                                   long long /*lParam*/) {
    switch (message) {
    case WM_CLOSE:
        if (&window == App().mainWindow())
            App().endProgram(0);
        else
            window.close();
        return 0;
    case WM_SYSCOMMAND:
        // The low four bits of the command are used by the system.
        if ((wParam & 0xFFF0) == SC_RESTORE)
            window.restore();
        else if ((wParam & 0xFFF0) == SC_MINIMIZE)
            window.minimise();
        return 0;
    case WM_ACTIVATE:
        if ((wParam & 0xFFFF) != 0)
            window.activate();
        return 0;
    default:
        return 0;
    }
}

void Window::close() {
    if (!App().isGuiThread()) {
        App().invoke([this] { close(); });
        return;
    }
    {
        auto guard = lock();
        if (!loaded_)
            return;
    }
    fire(Event::Closed);
    std::unique_ptr<WindowPeer> peer;
    std::vector<std::unique_ptr<ControlPeer>> controlPeers;
    {
        auto guard = lock();
        if (!loaded_)
            return;
        loaded_ = false;
        visible_ = false;
        active_ = false;
        for (auto& control : controls_)
            controlPeers.push_back(std::move(control->peer_));
        peer = std::move(peer_);
    }
    // Children before their window, outside the lock: destroying a widget may dispatch.
    controlPeers.clear();
    peer.reset();
    App().windowUnloaded(*this);
}

bool Window::loaded() const {
    auto guard = lock();
    return loaded_;
}

EventArgs Window::fire(Event event, EventArgs args) {
    if (!App().isGuiThread()) {
        App().invoke([&] { args = fire(event, args); });
        return args;
    }
    std::vector<std::pair<Event, Handler>> handlers;
    {
        auto guard = lock();
        if (!loaded_)
            return args;
        handlers = handlers_;
    }
    return Dispatch(handlers, event, std::move(args));
}

// ---------------------------------------------------------------------------------------
// Application

Application& Application::instance() {
    static Application application;
    return application;
}

void Application::setBackend(std::unique_ptr<Backend> backend) {
    // Windows of an earlier run are dropped with their peers while the old backend lives.
    {
        std::lock_guard guard(tasksMutex_);
        tasks_.clear();
    }
    windows_.clear();
    main_ = nullptr;
    exitCallbacks_.clear();
    exitRan_ = false;
    ended_ = false;
    exitCode_ = 0;
    backend_ = std::move(backend);
    guiThread_ = std::this_thread::get_id();
    // Timed waits of the kernel keep this thread's windows alive.
    vm::kernel::SetMessagePump([](int maxWaitMs) { instance().processPending(maxWaitMs); });
}

Backend& Application::backend() const {
    if (!backend_)
        Fail("no backend", "call UseQt or UseHeadless first");
    return *backend_;
}

bool Application::isGuiThread() const {
    return std::this_thread::get_id() == guiThread_;
}

Window& Application::loadWindow(const WindowSpec& spec, std::vector<Binding> bindings,
                                Window* parent, bool modal) {
    if (!isGuiThread()) {
        Window* loaded = nullptr;
        invoke([&] { loaded = &loadWindow(spec, std::move(bindings), parent, modal); });
        return *loaded;
    }
    auto owned = std::unique_ptr<Window>(new Window(spec, parent, modal));
    Window& window = *owned;
    window.createControls(spec.controls);
    window.bind(std::move(bindings));
    {
        auto guard = std::lock_guard(model_);
        windows_.push_back(std::move(owned));
        if (!main_ && !parent)
            main_ = &window;
    }
    if (ended_) {
        window.loaded_ = false;
        return window;
    }

    window.peer_ = backend().createWindow(window);
    // Containers first, so their widgets exist when their children are made.
    std::vector<Control*> order;
    for (auto& control : window.controls_)
        if (control->container_.empty())
            order.push_back(control.get());
    for (std::size_t i = 0; i < order.size(); ++i)
        for (auto& control : window.controls_)
            if (control->container_ == order[i]->name_)
                order.push_back(control.get());
    if (order.size() != window.controls_.size())
        Fail("container cycle in window", spec.className);
    for (Control* control : order) {
        ControlPeer* container =
            control->container_.empty() ? nullptr : window.find(control->container_)->peer_.get();
        control->peer_ = backend().createControl(*control, *window.peer_, container);
    }

    window.fire(Event::Created);
    if (ended_ || !window.loaded())
        return window;
    if (spec.visible || modal)
        window.show();
    if (modal)
        backend().runLoop([this, &window] { return ended_ || !window.loaded(); });
    return window;
}

Window* Application::mainWindow() const {
    auto guard = std::lock_guard(model_);
    return main_;
}

Window* Application::findWindow(std::string_view className) const {
    auto guard = std::lock_guard(model_);
    for (const auto& window : windows_)
        if (window->loaded_ && window->className_ == className)
            return window.get();
    return nullptr;
}

int Application::run() {
    if (!ended_)
        backend().runLoop([this] {
            if (ended_)
                return true;
            auto guard = std::lock_guard(model_);
            return main_ && !main_->loaded_;
        });
    return exitCode_;
}

void Application::endProgram(int exitCode) {
    if (!backend_ || !isGuiThread()) {
        if (ended_)
            return;
        post([this, exitCode] { endProgram(exitCode); });
        return;
    }
    if (exitRan_)
        return;
    exitRan_ = true;
    exitCode_ = exitCode;
    // Exit callbacks run while the windows still exist: clean-up may read them.
    for (std::size_t i = 0; i < exitCallbacks_.size(); ++i) {
        auto callback = exitCallbacks_[i];
        if (callback)
            callback();
    }
    ended_ = true;
    finishEnd();
}

void Application::finishEnd() {
    std::vector<Window*> loaded;
    {
        auto guard = std::lock_guard(model_);
        for (auto& window : windows_)
            if (window->loaded_)
                loaded.push_back(window.get());
    }
    // Children first, so no window outlives the one it belongs to.
    for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) {
        std::unique_ptr<WindowPeer> peer;
        std::vector<std::unique_ptr<ControlPeer>> controlPeers;
        {
            auto guard = std::lock_guard(model_);
            (*it)->loaded_ = false;
            (*it)->visible_ = false;
            for (auto& control : (*it)->controls_)
                controlPeers.push_back(std::move(control->peer_));
            peer = std::move((*it)->peer_);
        }
        controlPeers.clear();
        peer.reset();
    }
    backend().wakeLoops();
}

void Application::windowUnloaded(Window& window) {
    // The main window never goes alone: unloading it is the orderly end of the program.
    if (&window == mainWindow() && !exitRan_) {
        endProgram(0);
        return;
    }
    backend().wakeLoops();
}

bool Application::ended() const {
    return ended_;
}

int Application::exitCode() const {
    return exitCode_;
}

void Application::onExit(std::function<void()> callback) {
    auto guard = std::lock_guard(model_);
    exitCallbacks_.push_back(std::move(callback));
}

void Application::post(std::function<void()> task) {
    {
        std::lock_guard guard(tasksMutex_);
        tasks_.push_back(std::move(task));
    }
    if (backend_)
        backend_->wake();
}

void Application::runTasks() {
    // One at a time from the front: a task that runs a nested loop (a modal window, a message
    // box) lets the tasks behind it run inside that loop, still in order. Only the tasks
    // waiting now run, so a task that posts another cannot keep this call going.
    std::size_t waiting = 0;
    {
        std::lock_guard guard(tasksMutex_);
        waiting = tasks_.size();
    }
    for (; waiting > 0; --waiting) {
        std::function<void()> task;
        {
            std::lock_guard guard(tasksMutex_);
            if (tasks_.empty())
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

void Application::invoke(std::function<void()> task) {
    if (isGuiThread()) {
        task();
        return;
    }
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
    };
    auto state = std::make_shared<State>();
    // The task runs under the state's lock, so the caller can only give up before it starts,
    // never while it writes into the caller's frame.
    post([state, task = std::move(task)] {
        std::lock_guard guard(state->mutex);
        if (state->abandoned)
            return;
        task();
        state->finished = true;
        state->done.notify_all();
    });
    std::unique_lock guard(state->mutex);
    while (!state->done.wait_for(guard, std::chrono::milliseconds(20),
                                 [&] { return state->finished; })) {
        // After the end nobody may dispatch again; waiting on would hang this thread.
        if (ended_) {
            state->abandoned = true;
            return;
        }
    }
}

void Application::processPending(int maxWaitMs) {
    if (!isGuiThread() || !backend_)
        return;
    backend_->processPending(maxWaitMs);
}

int Application::messageBox(std::string_view text, std::string_view caption, int style) {
    if (!isGuiThread()) {
        int answer = 0;
        invoke([&] { answer = messageBox(text, caption, style); });
        return answer;
    }
    // Without a caption the box takes the program's title, as an ownerless box does.
    std::string title(caption);
    if (title.empty()) {
        auto guard = std::lock_guard(model_);
        if (main_)
            title = main_->title_;
    }
    return backend().messageBox(std::string(text), title, style);
}

void Application::listenForMessages(Window& window, int fd,
                                    std::function<std::vector<PostedMessage>()> drain) {
    backend().watch(fd, [this, &window, fd, drain = std::move(drain)] {
        const auto records = drain();
        for (const auto& record : records) {
            if (!window.loaded())
                break;
            window.sendMessage(record.message, record.wParam, record.lParam);
        }
        if (!window.loaded() && backend_)
            backend_->unwatch(fd);
    });
}

void Application::listenForMessages(Window& window, kernel::MessageEndpoint& endpoint) {
    listenForMessages(window, endpoint.fd(), [&endpoint] {
        std::vector<PostedMessage> records;
        while (auto record = endpoint.Receive())
            records.push_back({record->message, record->wParam, record->lParam});
        return records;
    });
}

} // namespace vm::gui

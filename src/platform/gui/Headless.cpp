#include "platform/gui/Headless.h"

#include "platform/gui/Backend.h"
#include "platform/gui/detail/Html.h"
#include "platform/gui/detail/Paths.h"
#include "platform/text/Codepage.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vm::gui {
namespace {

class HeadlessBackend;
HeadlessBackend* g_backend = nullptr;

// The page a headless browser shows: its text in UTF-8, edited in place by innerHTML writes.
class HeadlessDocument final : public Document {
public:
    HeadlessDocument(std::string url, std::string page) : url_(std::move(url)), page_(page) {}

    std::string url() const override { return url_; }

    std::optional<std::string> innerHtml(std::string_view id) override {
        if (gone_)
            return std::nullopt;
        const auto range = detail::FindInnerHtml(page_, text::GbkToUtf8(id));
        if (!range)
            return std::nullopt;
        return text::Utf8ToGbk(
            std::string_view(page_).substr(range->begin, range->end - range->begin));
    }

    bool setInnerHtml(std::string_view id, std::string_view html) override {
        if (gone_)
            return false;
        const auto range = detail::FindInnerHtml(page_, text::GbkToUtf8(id));
        if (!range)
            return false;
        page_.replace(range->begin, range->end - range->begin, text::GbkToUtf8(html));
        return true;
    }

    bool execScript(std::string_view code, std::string_view /*language*/) override {
        if (gone_)
            return false;
        scripts_.push_back(std::string(code));
        return true;
    }

    std::optional<std::string> evaluate(std::string_view /*expression*/) override {
        return std::nullopt; // no script engine without a browser
    }

    void detach() { gone_ = true; }
    const std::string& page() const { return page_; }
    const std::vector<std::string>& scripts() const { return scripts_; }

private:
    std::string url_;
    std::string page_;
    std::vector<std::string> scripts_;
    bool gone_ = false;
};

class HeadlessWindowPeer;

class HeadlessControlPeer : public ControlPeer {
public:
    HeadlessControlPeer(Control& control, HeadlessWindowPeer& window);
    ~HeadlessControlPeer() override;
    void update(Property property) override;

    Control& control() { return control_; }
    void loseFocus() {
        storeFocus(control_, false);
        control_.fire(Event::LostFocus);
    }

private:
    Control& control_;
    HeadlessWindowPeer& window_;
};

class HeadlessWindowPeer final : public WindowPeer {
public:
    explicit HeadlessWindowPeer(Window& window) : window_(window) {}

    void show() override {
        storeVisible(window_, true);
        // Shown windows become active at once, as on a desktop with a window manager; the
        // event arrives through the loop, like the activation message it stands for.
        Window* window = &window_;
        Application::instance().post([window] {
            if (window->loaded() && window->visible())
                storeActive(*window, true);
        });
        if (window_.modal() && modalDriver_)
            Application::instance().post([window, driver = modalDriver_] {
                if (window->loaded())
                    driver(*window);
            });
    }
    void hide() override { storeVisible(window_, false); }
    void activate() override { storeActive(window_, true); }

    // Moves the keyboard focus inside this window, firing LostFocus then GotFocus.
    void focus(HeadlessControlPeer* peer) {
        if (focused_ == peer)
            return;
        HeadlessControlPeer* previous = focused_;
        focused_ = peer;
        if (previous)
            previous->loseFocus();
    }
    void forget(HeadlessControlPeer* peer) {
        if (focused_ == peer)
            focused_ = nullptr;
    }

    static inline std::function<void(Window&)> modalDriver_;

private:
    Window& window_;
    HeadlessControlPeer* focused_ = nullptr;
};

HeadlessControlPeer::HeadlessControlPeer(Control& control, HeadlessWindowPeer& window)
    : control_(control), window_(window) {}

HeadlessControlPeer::~HeadlessControlPeer() {
    window_.forget(this);
}

void HeadlessControlPeer::update(Property property) {
    if (property != Property::Focus || control_.hasFocus())
        return;
    window_.focus(this);
    storeFocus(control_, true);
    control_.fire(Event::GotFocus);
}

class HeadlessBrowserPeer final : public HeadlessControlPeer {
public:
    using HeadlessControlPeer::HeadlessControlPeer;
    ~HeadlessBrowserPeer() override {
        if (document_)
            document_->detach();
    }

    // Loads on the next turn of the loop, as a real browser finishes later than it starts.
    void navigate(const std::string& target, const PagePolicy&) override {
        if (document_)
            document_->detach();
        document_.reset();
        busy_ = true;
        location_ = target;
        const int generation = ++generation_;
        Control* control = &this->control();
        Application::instance().post([this, control, generation, target] {
            if (!control->window().loaded() || generation != generation_)
                return;
            load(target);
        });
    }

    std::shared_ptr<Document> document() override { return document_; }
    std::string locationUrl() const override { return location_; }
    bool busy() const override { return busy_; }

    HeadlessDocument* current() { return document_.get(); }

private:
    void load(const std::string& target) {
        busy_ = false;
        std::string path;
        if (!detail::HasScheme(target)) {
            path = detail::LinuxPath(target);
        } else if (target.rfind("file://", 0) == 0) {
            path = text::GbkToUtf8(target.substr(7));
        } else {
            return; // no network in the headless browser
        }
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return;
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::string page = bytes.str();
        const std::string charset = detail::DeclaredCharset(page);
        if (charset == "gbk" || charset == "gb2312" || charset == "gb18030")
            page = text::GbkToUtf8(page);
        document_ =
            std::make_shared<HeadlessDocument>(text::Utf8ToGbk("file://" + path), std::move(page));
    }

    std::shared_ptr<HeadlessDocument> document_;
    std::string location_;
    bool busy_ = false;
    int generation_ = 0;
};

class HeadlessBackend final : public Backend {
public:
    HeadlessBackend() : wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~HeadlessBackend() override {
        if (wake_ >= 0)
            ::close(wake_);
    }

    std::unique_ptr<WindowPeer> createWindow(Window& window) override {
        return std::make_unique<HeadlessWindowPeer>(window);
    }

    std::unique_ptr<ControlPeer> createControl(Control& control, WindowPeer& window,
                                               ControlPeer* /*container*/) override {
        auto& headlessWindow = static_cast<HeadlessWindowPeer&>(window);
        if (control.kind() == ControlKind::Browser)
            return std::make_unique<HeadlessBrowserPeer>(control, headlessWindow);
        return std::make_unique<HeadlessControlPeer>(control, headlessWindow);
    }

    void wake() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    }

    void runLoop(const std::function<bool()>& done) override {
        while (!done())
            dispatch(100);
    }

    void wakeLoops() override { wake(); }

    void processPending(int maxWaitMs) override { dispatch(std::max(maxWaitMs, 0)); }

    int messageBox(const std::string& text, const std::string& caption, int style) override {
        const bool question = (style & 0xF) == MB_YESNO;
        int answer = question ? IDNO : IDOK;
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        shown_.push_back({text, caption, style, answer});
        return answer;
    }

    void watch(int fd, std::function<void()> readable) override {
        watches_[fd] = std::move(readable);
    }
    void unwatch(int fd) override { watches_.erase(fd); }

    std::deque<int> answers_;
    std::vector<headless::ShownBox> shown_;

private:
    // One turn of the loop: waits up to `timeoutMs` for posted work or a watched descriptor.
    void dispatch(int timeoutMs) {
        std::vector<pollfd> fds{{wake_, POLLIN, 0}};
        for (const auto& [fd, callback] : watches_)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), timeoutMs) > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wake_, &count, sizeof count);
        }
        Application::instance().runTasks();
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP)))
                continue;
            auto it = watches_.find(fds[i].fd);
            if (it == watches_.end())
                continue;
            auto callback = it->second; // the callback may unwatch itself
            callback();
        }
    }

    int wake_;
    std::map<int, std::function<void()>> watches_;
};

HeadlessBackend& Current() {
    if (!g_backend)
        std::abort();
    return *g_backend;
}

// Reaches the protected store helpers of the peers for the test seams.
struct Seams : ControlPeer {
    using ControlPeer::storeCurrentItem;
    using ControlPeer::storeText;
};

} // namespace

void UseHeadless() {
    auto backend = std::make_unique<HeadlessBackend>();
    HeadlessBackend* raw = backend.get();
    HeadlessWindowPeer::modalDriver_ = nullptr;
    Application::instance().setBackend(std::move(backend));
    g_backend = raw;
}

namespace headless {

void QueueAnswer(int answer) {
    Current().answers_.push_back(answer);
}

const std::vector<ShownBox>& ShownBoxes() {
    return Current().shown_;
}

void SetModalDriver(std::function<void(Window&)> driver) {
    HeadlessWindowPeer::modalDriver_ = std::move(driver);
}

void TypeText(Control& editBox, std::string_view text) {
    Seams::storeText(editBox, std::string(text));
}

bool PressKey(Control& editBox, int key) {
    EventArgs args;
    args.key = key;
    args = editBox.fire(Event::KeyDown, args);
    if (args.swallow)
        return true;
    if (key >= 32 && key < 127)
        Seams::storeText(editBox, editBox.text() + static_cast<char>(key));
    return false;
}

void SelectItem(Control& treeBox, int item, int cause) {
    Seams::storeCurrentItem(treeBox, item, cause);
}

bool ClickNewWindowLink(Control& browser, std::string_view address) {
    EventArgs args;
    args.address = std::string(address);
    args = browser.fire(Event::NewWindow, args);
    return !args.cancel;
}

std::vector<std::string> ScriptsRun(Control& browser) {
    auto document = std::dynamic_pointer_cast<HeadlessDocument>(browser.document());
    return document ? document->scripts() : std::vector<std::string>{};
}

std::string PageText(Control& browser) {
    auto document = std::dynamic_pointer_cast<HeadlessDocument>(browser.document());
    return document ? text::Utf8ToGbk(document->page()) : std::string();
}

} // namespace headless
} // namespace vm::gui

#include "platform/gui/detail/Paths.h"
#include "platform/gui/qt/QtInternal.h"
#include "platform/gui/qt/QtWebNetwork.h"
#include "platform/player/MovieRelay.h"
#include "platform/player/PlayerPage.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace vm::gui::qt {
namespace {

// A script's answer arrives through the page's own event loop; the deadline only matters for a
// renderer that has died.
constexpr int kScriptDeadlineMs = 10000;

QString JsString(const QString& text) {
    QString out = "\"";
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case 0x2028:
        case 0x2029:
            out += QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
            break;
        default:
            if (c.unicode() < 0x20)
                out += QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
            else
                out += c;
        }
    }
    return out + "\"";
}

// Addresses as a user would read them: "#" and non-ASCII characters undecoded, so that link
// commands and Chinese names arrive as written in the page.
std::string AddressOf(const QUrl& url) {
    return FromQt(QUrl::fromPercentEncoding(url.toEncoded()));
}

class QtDocument final : public Document {
public:
    // Without the page's own scripts, the members run in a world of their own that sees the
    // same document; page functions are then out of reach, as they should be.
    QtDocument(QWebEnginePage* page, bool pageScripts)
        : page_(page), url_(AddressOf(page->url())),
          world_(pageScripts ? QWebEngineScript::MainWorld : QWebEngineScript::ApplicationWorld) {}

    std::string url() const override { return url_; }

    std::optional<std::string> innerHtml(std::string_view id) override {
        const auto value = run("(function(){var e=document.getElementById(" + JsString(ToQt(id)) +
                               ");return e===null?null:String(e.innerHTML);})()");
        if (!value || value->isNull() || !value->isValid())
            return std::nullopt;
        return FromQt(value->toString());
    }

    bool setInnerHtml(std::string_view id, std::string_view html) override {
        const auto value = run("(function(){var e=document.getElementById(" + JsString(ToQt(id)) +
                               ");if(e===null)return false;e.innerHTML=" + JsString(ToQt(html)) +
                               ";return true;})()");
        return value && value->toBool();
    }

    bool execScript(std::string_view code, std::string_view language) override {
        const QString lang = ToQt(language).toLower();
        if (!lang.isEmpty() && lang != "javascript" && lang != "jscript" && lang != "ecmascript")
            return false;
        // Indirect eval runs in the page's global scope, where execScript runs its code.
        const auto value = run("(function(){try{(0,eval)(" + JsString(ToQt(code)) +
                               ");return true;}catch(e){return false;}})()");
        return value && value->toBool();
    }

    std::optional<std::string> evaluate(std::string_view expression) override {
        const auto value =
            run("(function(){try{var v=(0,eval)(" + JsString(ToQt(expression)) +
                ");return v===undefined||v===null?null:String(v);}catch(e){return null;}})()");
        if (!value || value->isNull() || !value->isValid())
            return std::nullopt;
        return FromQt(value->toString());
    }

    void detach() { page_ = nullptr; }

private:
    // Runs a script and waits for its result in a local loop, which keeps the GUI alive as
    // the browser control's synchronous calls do.
    std::optional<QVariant> run(const QString& script) {
        std::optional<QVariant> result;
        auto call = [&] {
            if (!page_)
                return;
            struct State {
                bool done = false;
                QVariant value;
            };
            auto state = std::make_shared<State>();
            QEventLoop loop;
            QPointer<QEventLoop> guard(&loop);
            page_->runJavaScript(script, world_, [state, guard](const QVariant& value) {
                state->done = true;
                state->value = value;
                if (guard)
                    guard->quit();
            });
            if (!state->done) {
                QTimer::singleShot(kScriptDeadlineMs, &loop, &QEventLoop::quit);
                QObject::connect(page_, &QObject::destroyed, &loop, &QEventLoop::quit);
                loop.exec();
            }
            if (state->done && page_)
                result = state->value;
        };
        Application::instance().invoke(call);
        return result;
    }

    QPointer<QWebEnginePage> page_;
    std::string url_;
    quint32 world_;
};

bool IsWebAddress(const QUrl& url) {
    return url.scheme() == "http" || url.scheme() == "https";
}

// The one folder whose files a local page may load: the folder of the page the program sent the
// browser to, symbolic links resolved. Empty for a page from the web.
QString OwnFolder(const QUrl& page) {
    if (!page.isLocalFile())
        return {};
    const QString folder = QFileInfo(page.toLocalFile()).absolutePath();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return (canonical.isEmpty() ? QDir::cleanPath(folder) : canonical) + '/';
}

// Turns away every file: request outside the page's own folder: frames, images, scripts, style
// sheets, XMLHttpRequest and fetch alike. Runs on the GUI thread.
class LocalFileGuard final : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void setFolder(QString folder) { folder_ = std::move(folder); }
    // While set, web requests go only to this origin ("http://host:port").
    void setWebOrigin(QString origin) { webOrigin_ = std::move(origin); }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QUrl url = info.requestUrl();
        if (url.scheme() == "file") {
            if (!Allowed(url))
                info.block(true);
        } else if (!webOrigin_.isEmpty() && IsWebAddress(url)) {
            const QString origin =
                url.scheme() + "://" + url.host() + ":" + QString::number(url.port(0));
            if (origin != webOrigin_)
                info.block(true);
        }
    }

    bool Allowed(const QUrl& url) const {
        if (folder_.isEmpty() || !url.isLocalFile())
            return false;
        const QFileInfo file(url.toLocalFile());
        QString path = file.canonicalFilePath();
        if (path.isEmpty())
            path = QDir::cleanPath(file.absoluteFilePath());
        return path.startsWith(folder_);
    }

private:
    QString folder_;
    QString webOrigin_;
};

// Where the pages of one browser control may go. The program's own local page is the only
// local file a page is shown from; pages from the web run as in any browser, with no reach into
// local files.
class BrowserPage final : public QWebEnginePage {
public:
    explicit BrowserPage(QObject* parent)
        : QWebEnginePage(QWebEngineProfile::defaultProfile(), parent),
          guard_(new LocalFileGuard(this)) {
        setUrlRequestInterceptor(guard_);
        QWebEngineSettings* s = settings();
        // Qt WebEngine shows a local page no local picture without file access; the guard is what
        // keeps a local page to its own folder.
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    }

    // The program's navigation: the page and its policy.
    void open(const QUrl& url, const PagePolicy& policy) {
        stopPlayer();
        policy_ = policy;
        own_ = url.adjusted(QUrl::RemoveFragment);
        guard_->setFolder(OwnFolder(url));
        // Qt WebEngine lets a local page load nothing from the web, not even follow a link,
        // without this. A page without scripts cannot read what it loads, and a Flash page
        // reaches no web origin but its relay.
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                                 !policy.scripts || policy.flash);
        if (policy.flash)
            startPlayer();
        applyScripts(url);
        setUrl(url);
    }

    // Called once a navigation of the page itself was refused: the page stays where it was.
    std::function<void()> refused;

    // The control goes: a movie still playing falls silent now, not when the widgets go.
    void end() {
        setAudioMuted(true);
        stopPlayer();
    }

    bool scriptsOn() const {
        return settings()->testAttribute(QWebEngineSettings::JavascriptEnabled);
    }

protected:
    // New windows are decided by the NewWindow event; the page never opens one itself.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        const bool accepted = decide(url, isMainFrame);
        if (!accepted && isMainFrame)
            QTimer::singleShot(0, this, [this] {
                if (refused)
                    refused();
            });
        return accepted;
    }

private:
    bool decide(const QUrl& url, bool isMainFrame) {
        const QString scheme = url.scheme();
        if (scheme == "file") {
            // Only the page the program opened, and places within it.
            if (!isMainFrame || url.adjusted(QUrl::RemoveFragment) != own_)
                return false;
        } else if (IsWebAddress(url)) {
            if (isMainFrame) {
                // The page leaves the program's own: nothing local is its any more, and a
                // movie it played is over.
                own_ = QUrl();
                guard_->setFolder({});
                stopPlayer();
            }
        } else if (scheme != "about" && scheme != "data" && scheme != "blob") {
            return false;
        }
        if (isMainFrame)
            applyScripts(url);
        return true;
    }

    // The player runs in the page's own world, put there before the page's first line; the
    // relay is the only web origin the page may reach.
    void startPlayer() {
        const std::string folder = player::PlayerFolder();
        relay_ = std::make_unique<player::MovieRelay>(folder, policy_.movie);
        QWebEngineScript script;
        script.setName(kPlayerScriptName);
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setRunsOnSubFrames(false);
        script.setSourceCode(QString::fromStdString(
            player::PageScript(relay_->Base(), player::PlayerScriptOf(folder),
                               ToQt(policy_.unplayable).toStdString())));
        scripts().insert(script);
        settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
        guard_->setWebOrigin("http://127.0.0.1:" + QString::number(relay_->Port()));
    }

    void stopPlayer() {
        for (const QWebEngineScript& script : scripts().find(kPlayerScriptName))
            scripts().remove(script);
        settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
        guard_->setWebOrigin({});
        relay_.reset();
    }

    static constexpr const char* kPlayerScriptName = "vm-player";

    void applyScripts(const QUrl& url) {
        settings()->setAttribute(QWebEngineSettings::JavascriptEnabled,
                                 policy_.scripts || IsWebAddress(url));
    }

    LocalFileGuard* guard_;
    PagePolicy policy_;
    QUrl own_;
    std::unique_ptr<player::MovieRelay> relay_;
};

class BrowserPeer final : public QtControlPeer {
public:
    BrowserPeer(Control& control, QWebEngineView* view)
        : QtControlPeer(control, view), view_(view) {
        ShareCookies(QWebEngineProfile::defaultProfile());
        page_ = new BrowserPage(view);
        view->setPage(page_);
        view->setContextMenuPolicy(Qt::NoContextMenu);
        QObject::connect(page_, &QWebEnginePage::newWindowRequested, view,
                         [&control](QWebEngineNewWindowRequest& request) {
                             EventArgs args;
                             args.address = AddressOf(request.requestedUrl());
                             args = control.fire(Event::NewWindow, args);
                             // Only web addresses go to the user's browser: a local file or
                             // another scheme handed to the desktop could start a program.
                             if (!args.cancel && IsWebAddress(request.requestedUrl()))
                                 QDesktopServices::openUrl(request.requestedUrl());
                         });
        QObject::connect(page_, &QWebEnginePage::loadStarted, view, [this] {
            busy_ = true;
            dropDocument();
        });
        // A navigation the page was refused leaves the page it came from in place.
        page_->refused = [this] {
            if (loaded_.isEmpty())
                return;
            busy_ = false;
            dropDocument();
            document_ = std::make_shared<QtDocument>(page_, page_->scriptsOn());
        };
        QObject::connect(page_, &QWebEnginePage::loadFinished, view, [this](bool ok) {
            busy_ = false;
            if (ok) {
                dropDocument();
                document_ = std::make_shared<QtDocument>(page_, page_->scriptsOn());
                loaded_ = page_->url();
            } else if (!document_) {
                loaded_ = QUrl();
            }
        });
        applyCommon();
    }
    ~BrowserPeer() override {
        page_->refused = nullptr;
        page_->end();
        QObject::disconnect(page_, nullptr, view_, nullptr);
        dropDocument();
    }

    void navigate(const std::string& target, const PagePolicy& policy) override {
        const QUrl url =
            detail::HasScheme(target)
                ? QUrl(ToQt(target))
                : QUrl::fromLocalFile(QString::fromStdString(detail::LinuxPath(target)));
        busy_ = true;
        dropDocument();
        page_->open(url, policy);
    }
    std::shared_ptr<Document> document() override { return document_; }
    std::string locationUrl() const override { return AddressOf(page_->url()); }
    bool busy() const override { return busy_; }

private:
    void dropDocument() {
        if (document_)
            document_->detach();
        document_.reset();
    }

    QWebEngineView* view_;
    BrowserPage* page_ = nullptr;
    std::shared_ptr<QtDocument> document_;
    QUrl loaded_; // the page the document belongs to
    bool busy_ = false;
};

} // namespace

std::unique_ptr<ControlPeer> CreateBrowser(Control& control, QWidget* parent) {
    return std::make_unique<BrowserPeer>(control, new QWebEngineView(parent));
}

} // namespace vm::gui::qt

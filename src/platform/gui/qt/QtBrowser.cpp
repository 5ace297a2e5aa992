#include "platform/gui/detail/Paths.h"
#include "platform/gui/qt/QtInternal.h"
#include "platform/gui/qt/QtWebNetwork.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
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
    explicit QtDocument(QWebEnginePage* page) : page_(page), url_(AddressOf(page->url())) {}

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
            page_->runJavaScript(script, [state, guard](const QVariant& value) {
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
};

class BrowserPage final : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    // New windows are decided by the NewWindow event; the page never opens one itself.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

class BrowserPeer final : public QtControlPeer {
public:
    BrowserPeer(Control& control, QWebEngineView* view)
        : QtControlPeer(control, view), view_(view) {
        ShareCookies(QWebEngineProfile::defaultProfile());
        page_ = new BrowserPage(QWebEngineProfile::defaultProfile(), view);
        view->setPage(page_);
        view->setContextMenuPolicy(Qt::NoContextMenu);
        QObject::connect(page_, &QWebEnginePage::newWindowRequested, view,
                         [&control](QWebEngineNewWindowRequest& request) {
                             EventArgs args;
                             args.address = AddressOf(request.requestedUrl());
                             args = control.fire(Event::NewWindow, args);
                             if (!args.cancel)
                                 QDesktopServices::openUrl(request.requestedUrl());
                         });
        QObject::connect(page_, &QWebEnginePage::loadStarted, view, [this] {
            busy_ = true;
            dropDocument();
        });
        QObject::connect(page_, &QWebEnginePage::loadFinished, view, [this](bool ok) {
            busy_ = false;
            dropDocument();
            if (ok)
                document_ = std::make_shared<QtDocument>(page_);
        });
        applyCommon();
    }
    ~BrowserPeer() override {
        QObject::disconnect(page_, nullptr, view_, nullptr);
        dropDocument();
    }

    void navigate(const std::string& target) override {
        const QUrl url =
            detail::HasScheme(target)
                ? QUrl(ToQt(target))
                : QUrl::fromLocalFile(QString::fromStdString(detail::LinuxPath(target)));
        busy_ = true;
        dropDocument();
        page_->setUrl(url);
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
    bool busy_ = false;
};

} // namespace

std::unique_ptr<ControlPeer> CreateBrowser(Control& control, QWidget* parent) {
    return std::make_unique<BrowserPeer>(control, new QWebEngineView(parent));
}

} // namespace vm::gui::qt

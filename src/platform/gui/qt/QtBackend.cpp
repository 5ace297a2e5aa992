#include "platform/gui/qt/QtBackend.h"

#include "platform/gui/qt/QtAccess.h"
#include "platform/gui/qt/QtInternal.h"
#include "platform/gui/qt/QtWebNetwork.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace vm::gui::qt {

QString ToQt(std::string_view gbk) {
    return QString::fromStdU16String(text::GbkToUtf16(gbk));
}

std::string FromQt(const QString& text) {
    return text::Utf16ToGbk(text.toStdU16String());
}

QPixmap ToPixmap(const Bytes& picture) {
    QPixmap pixmap;
    if (!picture.empty())
        pixmap.loadFromData(reinterpret_cast<const uchar*>(picture.data()),
                            static_cast<uint>(picture.size()));
    return pixmap;
}

namespace {

// Windows' Chinese faces are not on Linux; these stand in, in order of preference.
const QStringList& CjkFallbacks() {
    static const QStringList families = {"Noto Sans CJK SC", "WenQuanYi Micro Hei",
                                         "Noto Sans CJK JP", "DejaVu Sans"};
    return families;
}

} // namespace

QFont ToQt(const Font& font) {
    QFont qfont;
    QStringList families;
    if (!font.face.empty())
        families << ToQt(font.face);
    families << CjkFallbacks();
    qfont.setFamilies(families);
    qfont.setPixelSize(font.height < 0 ? -font.height : (font.height > 0 ? font.height : 12));
    qfont.setWeight(
        static_cast<QFont::Weight>(std::clamp(font.weight > 0 ? font.weight : 400, 100, 900)));
    return qfont;
}

QFont DefaultFont() {
    return ToQt(Font{});
}

QWidget* WidgetOf(Window& window) {
    auto* peer = static_cast<QtWindowPeer*>(PeerAccess::Of(window));
    return peer ? peer->widget() : nullptr;
}

QWidget* WidgetOf(Control& control) {
    auto* peer = static_cast<QtControlPeer*>(PeerAccess::Of(control));
    return peer ? peer->widget() : nullptr;
}

namespace {

class QtBackend final : public Backend {
public:
    ~QtBackend() override {
        for (auto& [fd, notifier] : notifiers_)
            notifier->setEnabled(false);
    }

    std::unique_ptr<WindowPeer> createWindow(Window& window) override {
        return std::make_unique<QtWindowPeer>(window);
    }

    std::unique_ptr<ControlPeer> createControl(Control& control, WindowPeer& window,
                                               ControlPeer* container) override {
        QWidget* parent = container ? static_cast<QtControlPeer*>(container)->widget()
                                    : static_cast<QtWindowPeer&>(window).widget();
        return CreateControl(control, parent);
    }

    void wake() override {
        QMetaObject::invokeMethod(
            qApp, [] { Application::instance().runTasks(); }, Qt::QueuedConnection);
    }

    void runLoop(const std::function<bool()>& done) override {
        if (done())
            return;
        QEventLoop loop;
        loops_.push_back({&loop, &done});
        while (!done())
            loop.exec();
        loops_.pop_back();
        // Widgets of unloaded windows are deleted by the loop; the outermost loop is over, so
        // delete them now, before the toolkit goes.
        if (loops_.empty())
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void wakeLoops() override {
        // The program's end also answers the message boxes still open: their loops would keep
        // it alive with nobody left to read the answer.
        if (Application::instance().ended()) {
            const auto boxes = boxes_;
            for (QMessageBox* box : boxes)
                box->reject();
        }
        const auto loops = loops_;
        for (const auto& [loop, done] : loops)
            if ((*done)())
                loop->quit();
    }

    void processPending(int maxWaitMs) override {
        QCoreApplication::sendPostedEvents();
        if (maxWaitMs > 0) {
            // Blocks until something arrives; the timer bounds the wait.
            QTimer timer;
            timer.setSingleShot(true);
            timer.start(maxWaitMs);
            QAbstractEventDispatcher::instance()->processEvents(QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    int messageBox(const std::string& text, const std::string& caption, int style) override {
        QMessageBox box;
        box.setTextFormat(Qt::PlainText);
        box.setText(ToQt(text).replace("\r\n", "\n"));
        box.setWindowTitle(ToQt(caption));
        switch (style & 0xF0) {
        case 0x10:
            box.setIcon(QMessageBox::Critical);
            break;
        case 0x20:
            box.setIcon(QMessageBox::Question);
            break;
        case 0x30:
            box.setIcon(QMessageBox::Warning);
            break;
        case 0x40:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
        }
        const bool question = (style & 0xF) == MB_YESNO;
        if (question) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        // No owner: the box is modal for the whole application.
        box.setWindowModality(Qt::ApplicationModal);
        QTimer::singleShot(0, &box, [&box] {
            box.raise();
            box.activateWindow();
        });
        boxes_.push_back(&box);
        const int answer = box.exec();
        boxes_.erase(std::find(boxes_.begin(), boxes_.end(), &box));
        if (question)
            return answer == QMessageBox::Yes ? IDYES : IDNO;
        return IDOK;
    }

    void watch(int fd, std::function<void()> readable) override {
        unwatch(fd);
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                         [readable = std::move(readable)] { readable(); });
        notifiers_[fd] = notifier;
    }

    void unwatch(int fd) override {
        auto it = notifiers_.find(fd);
        if (it == notifiers_.end())
            return;
        // Possibly inside its own activation: disable now, delete later.
        it->second->setEnabled(false);
        it->second->deleteLater();
        notifiers_.erase(it);
    }

private:
    std::vector<std::pair<QEventLoop*, const std::function<bool()>*>> loops_;
    std::vector<QMessageBox*> boxes_;
    std::map<int, QSocketNotifier*> notifiers_;
};

struct Arguments {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    int count = 0;
};

Arguments& SavedArguments() {
    static Arguments arguments; // QApplication keeps referring to argc and argv
    return arguments;
}

// The program speaks Chinese whatever the user's locale, so Qt's own texts (the buttons of
// message boxes and standard dialogs, the edit boxes' context menu) come from Qt's zh_CN
// translations. Without them installed, Qt's English texts stay.
void LoadChineseTranslations() {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), folder))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace
} // namespace vm::gui::qt

#if defined(__SANITIZE_ADDRESS__)
// Chromium inside Qt WebEngine frees some of its own objects through a base of another size,
// which AddressSanitizer reports as a type mismatch when a page goes away. That code is not
// ours and not instrumented; every other check stays on.
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}
// The same library, fontconfig and D-Bus keep process-long caches they never free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\nleak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

namespace vm::gui {

void UseQt(int& argc, char** argv) {
    if (!QApplication::instance()) {
        auto& saved = qt::SavedArguments();
        for (int i = 0; i < argc; ++i)
            saved.texts.emplace_back(argv[i]);
        // Chromium refuses to start its sandbox as root; Qt hands Chromium only the switches
        // after --webEngineArgs.
        if (::geteuid() == 0) {
            bool hasSeparator = false;
            for (const auto& text : saved.texts)
                hasSeparator = hasSeparator || text == "--webEngineArgs";
            if (!hasSeparator)
                saved.texts.emplace_back("--webEngineArgs");
            saved.texts.emplace_back("--no-sandbox");
        }
        qt::AddWebProxyArguments(saved.texts);
        for (auto& text : saved.texts)
            saved.pointers.push_back(text.data());
        saved.pointers.push_back(nullptr);
        saved.count = static_cast<int>(saved.texts.size());
        // The web views show plain pages: Qt Quick's software renderer composes them, and
        // nothing in this process draws with OpenGL. The X11 plugin would still open GLX at
        // start, which loads the driver (on a machine without a GPU, Mesa's rasteriser with
        // LLVM): about 58 MB resident for nothing. QT_QUICK_BACKEND or QT_XCB_GL_INTEGRATION
        // set by the user still choose otherwise.
        bool withoutGl = false;
        if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
            QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
            withoutGl = !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
            if (withoutGl)
                qputenv("QT_XCB_GL_INTEGRATION", "none");
        } else {
            QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        }
        // Lives to the end of the process: widgets and web pages must never outlive it.
        new QApplication(saved.count, saved.pointers.data());
        if (withoutGl) {
            // The plugin reads the variable once, when first asked about OpenGL; asked now,
            // the variable can go, so that the programs we start (the user's browser among
            // them) keep their own OpenGL.
            QOpenGLContext::supportsThreadedOpenGL();
            qunsetenv("QT_XCB_GL_INTEGRATION");
        }
        QApplication::setQuitOnLastWindowClosed(false); // the model decides when we end
        QApplication::setFont(qt::DefaultFont());
        qt::LoadChineseTranslations();
    }
    Application::instance().setBackend(std::make_unique<qt::QtBackend>());
}

void EndQtProcess(int exitCode) {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    // The leak check would otherwise run from exit(); it keeps its place at the end.
    __lsan_do_leak_check();
#endif
    std::_Exit(exitCode);
}

} // namespace vm::gui

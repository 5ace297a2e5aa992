#include "platform/gui/qt/QtAccess.h"
#include "platform/gui/qt/QtInternal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>

#include <algorithm>

namespace vm::gui::qt {
namespace {

class WindowWidget final : public QWidget {
public:
    WindowWidget(QtWindowPeer& peer, QWidget* parent, Qt::WindowFlags flags)
        : QWidget(parent, flags), peer_(&peer), background_(ToPixmap(peer.window().background())),
          dragArea_(ToQt(peer.window().dragArea())) {}

    void detach() { peer_ = nullptr; }

protected:
    void paintEvent(QPaintEvent*) override {
        if (background_.isNull())
            return;
        QPainter painter(this);
        painter.drawPixmap(0, 0, background_);
    }

    // The close button, the window manager and Alt+F4 all end up here; the window's message
    // procedure decides, so the toolkit never closes the window by itself.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (!peer_)
            return;
        Window* window = &peer_->window();
        Application::instance().post([window] {
            if (window->loaded())
                window->sendMessage(WM_CLOSE, 0, 0);
        });
    }

    // Tab and Shift+Tab among the controls the window lists go in its order; everywhere else
    // the toolkit's own.
    bool focusNextPrevChild(bool next) override {
        if (peer_)
            if (QWidget* target = peer_->tabNeighbour(QApplication::focusWidget(), next)) {
                target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                return true;
            }
        return QWidget::focusNextPrevChild(next);
    }

    // Border-less windows are dragged by their title area. The window system's own move
    // (startSystemMove) needs a window manager, so the widget moves itself.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && dragArea_.contains(event->position().toPoint())) {
            dragging_ = true;
            dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
            event->accept();
            return;
        }
        QWidget::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (dragging_ && (event->buttons() & Qt::LeftButton)) {
            move(event->globalPosition().toPoint() - dragOffset_);
            event->accept();
            return;
        }
        QWidget::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        dragging_ = false;
        QWidget::mouseReleaseEvent(event);
    }

    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (peer_) {
            peer_->applyMask();
            peer_->widgetResized();
        }
    }
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        if (peer_)
            peer_->widgetResized();
    }
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (!peer_)
            return;
        if (event->type() == QEvent::ActivationChange)
            peer_->widgetActivation(isActiveWindow());
        else if (event->type() == QEvent::WindowStateChange)
            peer_->widgetMinimised(isMinimized());
    }

private:
    QtWindowPeer* peer_;
    QPixmap background_;
    QRect dragArea_;
    bool dragging_ = false;
    QPoint dragOffset_;
};

// The window's KeyDown binding sees every key pressed in the window before the control with
// the focus does, the browser's page included; swallowing it keeps it from the control.
class KeyPreview final : public QObject {
public:
    explicit KeyPreview(QtWindowPeer& peer) : peer_(peer) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        QWidget* top = peer_.widget();
        // A key travels up from the focus widget to its parents: look at it once, at its
        // first receiver, and only in this window. The receiver is compared by address only:
        // filters also see keys sent to objects being destroyed (a web view's scene on hide).
        QWidget* first = QApplication::focusWidget() ? QApplication::focusWidget() : top;
        if (top == nullptr || object != static_cast<QObject*>(first) || first->window() != top)
            return false;
        EventArgs args;
        args.key = VirtualKey(*static_cast<QKeyEvent*>(event));
        if (args.key == 0)
            return false;
        args = peer_.window().fire(Event::KeyDown, args);
        if (!args.swallow)
            return false;
        event->accept();
        return true;
    }

private:
    QtWindowPeer& peer_;
};

Qt::WindowFlags FlagsFor(const Window& window) {
    Qt::WindowFlags flags = Qt::Window;
    switch (window.border()) {
    case Border::None:
        flags |= Qt::FramelessWindowHint;
        break;
    case Border::Normal:
        break;
    case Border::NarrowFixed:
        flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;
        break;
    }
    return flags;
}

} // namespace

QtWindowPeer::QtWindowPeer(Window& window) : window_(window) {
    QWidget* parent = nullptr;
    if (window.parent())
        if (auto* peer = static_cast<QtWindowPeer*>(PeerAccess::Of(*window.parent())))
            parent = peer->widget();
    auto* widget = new WindowWidget(*this, parent, FlagsFor(window));
    widget_ = widget;
    widget->setObjectName(QString::fromStdString(text::GbkToUtf8(window.className())));
    widget->setWindowTitle(ToQt(window.title()));
    widget->setFont(DefaultFont());
    widget->setAttribute(Qt::WA_DeleteOnClose, false);
    if (window.modal())
        widget->setWindowModality(Qt::ApplicationModal);
    const QRect geometry = ToQt(window.geometry());
    widget->setGeometry(geometry);
    if (window.border() != Border::Normal)
        widget->setFixedSize(geometry.size());
    if (window.border() == Border::None)
        widget->setMouseTracking(true);
    keyPreview_ = std::make_unique<KeyPreview>(*this);
    qApp->installEventFilter(keyPreview_.get());
}

QtWindowPeer::~QtWindowPeer() {
    qApp->removeEventFilter(keyPreview_.get());
    if (!widget_)
        return;
    static_cast<WindowWidget*>(widget_.data())->detach();
    widget_->hide();
    // Later, not now: this may run inside one of the window's own event handlers.
    widget_->deleteLater();
}

void QtWindowPeer::applyTabOrder() {
    tabOrderApplied_ = true;
    tabOrder_.clear();
    for (const std::string& name : window_.tabOrder()) {
        Control* control = window_.find(name);
        QWidget* widget = control ? WidgetOf(*control) : nullptr;
        // A graphic button keeps Qt::NoFocus: the toolkit's own choices (the first focus of
        // the window, clicks) pass it by, while Tab below still gives it the focus.
        if (widget != nullptr)
            tabOrder_.push_back(widget);
    }
}

QWidget* QtWindowPeer::tabNeighbour(QWidget* focus, bool next) const {
    // The focus may be inside a listed control (the browser's page).
    for (QWidget* widget = focus; widget != nullptr && widget != widget_;
         widget = widget->parentWidget()) {
        const auto it = std::find(tabOrder_.begin(), tabOrder_.end(), widget);
        if (it == tabOrder_.end())
            continue;
        const std::size_t count = tabOrder_.size();
        const std::size_t at = static_cast<std::size_t>(it - tabOrder_.begin());
        for (std::size_t step = 1; step < count; ++step) {
            QWidget* candidate = tabOrder_[(at + (next ? step : count - step)) % count];
            if (candidate && candidate->isVisible() && candidate->isEnabled())
                return candidate;
        }
        return nullptr;
    }
    return nullptr;
}

void QtWindowPeer::show() {
    if (!widget_)
        return;
    widget_->show();
    if (!tabOrderApplied_) // the controls exist by the first show
        applyTabOrder();
    // Without a window manager a new window is never activated by itself; a Windows desktop
    // activates a new foreground window, and FirstActivated depends on it. The X server takes
    // the focus only once the window is mapped, which happens after show() returns.
    widget_->raise();
    widget_->activateWindow();
    QPointer<QWidget> widget = widget_;
    for (int delayMs : {0, 50, 200})
        QTimer::singleShot(delayMs, widget, [widget] {
            if (widget && widget->isVisible() && !widget->isActiveWindow() &&
                !widget->isMinimized()) {
                widget->raise();
                widget->activateWindow();
            }
        });
}

void QtWindowPeer::hide() {
    if (widget_)
        widget_->hide();
}

void QtWindowPeer::minimise() {
    if (widget_)
        widget_->showMinimized();
}

void QtWindowPeer::restore() {
    if (!widget_)
        return;
    widget_->showNormal();
    widget_->raise();
    widget_->activateWindow();
}

void QtWindowPeer::activate() {
    if (!widget_)
        return;
    if (widget_->isMinimized())
        widget_->showNormal();
    widget_->raise();
    widget_->activateWindow();
}

void QtWindowPeer::setTopMost(bool topMost) {
    if (!widget_ || widget_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topMost)
        return;
    // Changing the flags re-creates the native window, which hides it.
    const bool wasVisible = widget_->isVisible();
    widget_->setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (wasVisible) {
        widget_->show();
        widget_->raise();
    }
}

void QtWindowPeer::setRoundedOutline(int ellipseWidth, int ellipseHeight) {
    ellipseWidth_ = ellipseWidth;
    ellipseHeight_ = ellipseHeight;
    applyMask();
}

void QtWindowPeer::applyMask() {
    if (!widget_ || (ellipseWidth_ <= 0 && ellipseHeight_ <= 0))
        return;
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, widget_->width(), widget_->height()), ellipseWidth_ / 2.0,
                        ellipseHeight_ / 2.0);
    widget_->setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void QtWindowPeer::setGeometry(Rect geometry) {
    if (!widget_)
        return;
    const QRect rect = ToQt(geometry);
    if (window_.border() != Border::Normal)
        widget_->setFixedSize(rect.size());
    widget_->setGeometry(rect);
}

void QtWindowPeer::setTitle() {
    if (widget_)
        widget_->setWindowTitle(ToQt(window_.title()));
}

void QtWindowPeer::widgetResized() {
    if (!widget_)
        return;
    const QRect rect = widget_->geometry();
    storeGeometry(window_, {rect.x(), rect.y(), rect.width(), rect.height()});
}

void QtWindowPeer::widgetActivation(bool active) {
    storeActive(window_, active);
}

void QtWindowPeer::widgetMinimised(bool minimised) {
    storeMinimised(window_, minimised);
}

} // namespace vm::gui::qt

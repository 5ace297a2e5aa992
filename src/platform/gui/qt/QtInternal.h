#pragma once
// Pieces shared by the Qt backend's files.

#include "platform/gui/Backend.h"
#include "platform/text/Codepage.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QKeyEvent;

namespace vm::gui::qt {

// The Windows virtual-key code of a key (0 for keys handlers never look at).
int VirtualKey(const QKeyEvent& event);

QString ToQt(std::string_view gbk);
std::string FromQt(const QString& text);
inline QRect ToQt(Rect rect) {
    return QRect(rect.left, rect.top, rect.width, rect.height);
}
inline QColor ToQt(Colour colour) {
    return QColor(colour.r, colour.g, colour.b);
}
QPixmap ToPixmap(const Bytes& picture);
QFont ToQt(const Font& font);
// The font every control uses unless its description names one: 12 pixels, CJK-capable.
QFont DefaultFont();

// A top-level window's widget and peer.
class QtWindowPeer final : public WindowPeer {
public:
    explicit QtWindowPeer(Window& window);
    ~QtWindowPeer() override;

    void show() override;
    void hide() override;
    void minimise() override;
    void restore() override;
    void activate() override;
    void setTopMost(bool topMost) override;
    void setRoundedOutline(int ellipseWidth, int ellipseHeight) override;
    void setGeometry(Rect geometry) override;
    void setTitle() override;

    QWidget* widget() const { return widget_; }
    Window& window() const { return window_; }

    // From the widget.
    void widgetResized();
    void widgetActivation(bool active);
    void widgetMinimised(bool minimised);
    void applyMask();

private:
    Window& window_;
    QPointer<QWidget> widget_;
    int ellipseWidth_ = 0;
    int ellipseHeight_ = 0;
    bool tabOrderApplied_ = false;
    std::vector<QPointer<QWidget>> tabOrder_;
    std::unique_ptr<QObject> keyPreview_;
    void applyTabOrder();

public:
    // The listed control Tab (next) or Shift+Tab moves to from `focus`; null when `focus` is
    // not in a listed control.
    QWidget* tabNeighbour(QWidget* focus, bool next) const;
};

// A control's widget and peer; the widget classes report user input through it.
class QtControlPeer : public ControlPeer {
public:
    QtControlPeer(Control& control, QWidget* widget);
    ~QtControlPeer() override;

    void update(Property property) override;

    Control& control() const { return control_; }
    QWidget* widget() const { return widget_; }

    // From the widget.
    void userText(const QString& text) { storeText(control_, FromQt(text)); }
    void userChecked(bool checked) { storeChecked(control_, checked); }
    void userFocus(bool focus) { storeFocus(control_, focus); }
    void userCurrentItem(int item, int cause) { storeCurrentItem(control_, item, cause); }
    void userExpanded(int item, bool expanded) { storeExpanded(control_, item, expanded); }

protected:
    virtual void applyText() {}
    virtual void applyPictures() {}
    virtual void applyChecked() {}
    void applyCommon(); // everything the model describes, at creation

private:
    Control& control_;
    QPointer<QWidget> widget_;
};

std::unique_ptr<ControlPeer> CreateControl(Control& control, QWidget* parent);
std::unique_ptr<ControlPeer> CreateBrowser(Control& control, QWidget* parent);

} // namespace vm::gui::qt

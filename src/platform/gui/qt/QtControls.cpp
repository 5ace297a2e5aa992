#include "platform/gui/qt/QtInternal.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <map>

namespace vm::gui::qt {

// Windows virtual-key codes for the keys handlers look at.
int VirtualKey(const QKeyEvent& event) {
    const int key = event.key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    default:
        break;
    }
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key; // same codes as the virtual keys
    return key < 256 ? key : 0;
}

namespace {

// --- graphic button: three pictures, one per state --------------------------------------

class GraphicButton final : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;
    void setPictures(std::vector<QPixmap> pictures) {
        pictures_ = std::move(pictures);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (pictures_.empty())
            return;
        // Normal, mouse over, pressed; a missing state shows the normal picture.
        std::size_t state = 0;
        if (isDown())
            state = 2;
        else if (underMouse())
            state = 1;
        const QPixmap& picture = state < pictures_.size() && !pictures_[state].isNull()
                                     ? pictures_[state]
                                     : pictures_.front();
        QPainter painter(this);
        painter.drawPixmap(0, 0, picture);
        // Only Tab gives a graphic button the focus; it shows as the dotted rectangle a
        // Windows button draws.
        if (hasFocus()) {
            QPen pen(QColor(40, 40, 40), 1, Qt::DotLine);
            painter.setPen(pen);
            painter.drawRect(rect().adjusted(2, 2, -3, -3));
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            click();
            return;
        }
        QAbstractButton::keyPressEvent(event); // Space clicks
    }
    void enterEvent(QEnterEvent* event) override {
        QAbstractButton::enterEvent(event);
        update();
    }
    void leaveEvent(QEvent* event) override {
        QAbstractButton::leaveEvent(event);
        update();
    }

private:
    std::vector<QPixmap> pictures_;
};

class GraphicButtonPeer final : public QtControlPeer {
public:
    GraphicButtonPeer(Control& control, GraphicButton* button)
        : QtControlPeer(control, button), button_(button) {
        button->setFocusPolicy(Qt::NoFocus);
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [&control] { control.fire(Event::Clicked); });
        applyCommon();
    }

protected:
    void applyPictures() override {
        std::vector<QPixmap> pixmaps;
        for (const auto& picture : control().pictures())
            pixmaps.push_back(ToPixmap(picture));
        button_->setPictures(std::move(pixmaps));
    }

private:
    GraphicButton* button_;
};

// --- transparent label: text over the window's picture --------------------------------

class TransparentLabel final : public QWidget {
public:
    explicit TransparentLabel(QWidget* parent) : QWidget(parent) {}
    std::function<void()> pressed;
    QString text;
    QColor colour;

protected:
    void paintEvent(QPaintEvent*) override {
        if (text.isEmpty())
            return;
        QPainter painter(this);
        painter.setPen(colour);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            QWidget::mousePressEvent(event);
            return;
        }
        event->accept();
        if (pressed)
            pressed();
    }
    // Qt's default turns the second press of a double click into one more press; one double
    // click is one action ("立即更新" would start two updates).
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
};

class TransparentLabelPeer final : public QtControlPeer {
public:
    TransparentLabelPeer(Control& control, TransparentLabel* label)
        : QtControlPeer(control, label), label_(label) {
        label->pressed = [&control] { control.fire(Event::LeftButtonDown); };
        applyCommon();
    }
    void update(Property property) override {
        if (property == Property::TextColour) {
            label_->colour = ToQt(control().textColour());
            label_->update();
            return;
        }
        QtControlPeer::update(property);
    }

protected:
    void applyText() override {
        label_->text = ToQt(control().text());
        label_->colour = ToQt(control().textColour());
        label_->update();
    }

private:
    TransparentLabel* label_;
};

// --- shape box: a frame that contains one control --------------------------------------

class ShapeBox final : public QWidget {
public:
    explicit ShapeBox(QWidget* parent) : QWidget(parent) {}
    QColor line{127, 157, 185};
    std::optional<QColor> fill;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (fill)
            painter.fillRect(rect(), *fill);
        painter.setPen(line);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

class PlainPeer final : public QtControlPeer {
public:
    PlainPeer(Control& control, QWidget* widget) : QtControlPeer(control, widget) { applyCommon(); }
};

// --- edit box ---------------------------------------------------------------------------

class EditBox final : public QLineEdit {
public:
    EditBox(Control& control, QWidget* parent) : QLineEdit(parent), control_(control) {}
    QtControlPeer* peer = nullptr;

protected:
    // A popup (the box's own context menu, a menu elsewhere) takes Qt's focus for as long as it
    // is open, where a Windows edit keeps the focus under its menu: those moves are no focus
    // change to the program, or the prompt rule would put its text back before a paste.
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        if (event->reason() == Qt::PopupFocusReason)
            return;
        if (peer)
            peer->userFocus(true);
        control_.fire(Event::GotFocus);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (event->reason() == Qt::PopupFocusReason)
            return;
        if (peer)
            peer->userFocus(false);
        control_.fire(Event::LostFocus);
    }
    void keyPressEvent(QKeyEvent* event) override {
        EventArgs args;
        args.key = VirtualKey(*event);
        args = control_.fire(Event::KeyDown, args);
        if (args.swallow) {
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    Control& control_;
};

class EditBoxPeer final : public QtControlPeer {
public:
    EditBoxPeer(Control& control, EditBox* edit) : QtControlPeer(control, edit), edit_(edit) {
        edit->peer = this;
        edit->setFrame(false);
        // A box outside a frame of its own gets a thin border, as the sunken edit would.
        if (control.container().empty())
            edit->setStyleSheet("QLineEdit { border: 1px solid #7f9db9; background: white; }");
        QObject::connect(edit, &QLineEdit::textEdited, edit,
                         [this](const QString& text) { userText(text); });
        applyCommon();
    }
    ~EditBoxPeer() override {
        if (auto* edit = static_cast<EditBox*>(widget()))
            edit->peer = nullptr;
    }

protected:
    void applyText() override {
        const QString text = ToQt(control().text());
        if (edit_->text() != text)
            edit_->setText(text);
    }

private:
    EditBox* edit_;
};

// --- label and picture box --------------------------------------------------------------

class ClickLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> pressed;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && pressed) {
            event->accept();
            pressed();
            return;
        }
        QLabel::mousePressEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && pressed) {
            event->accept();
            return;
        }
        QLabel::mouseDoubleClickEvent(event);
    }
};

class LabelPeer final : public QtControlPeer {
public:
    LabelPeer(Control& control, ClickLabel* label) : QtControlPeer(control, label), label_(label) {
        label->pressed = [&control] { control.fire(Event::LeftButtonDown); };
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        applyCommon();
    }
    void update(Property property) override {
        if (property == Property::TextColour) {
            applyText();
            return;
        }
        QtControlPeer::update(property);
    }

protected:
    void applyText() override {
        if (control().kind() == ControlKind::PictureBox)
            return;
        label_->setText(ToQt(control().text()));
        QPalette palette = label_->palette();
        palette.setColor(QPalette::WindowText, ToQt(control().textColour()));
        label_->setPalette(palette);
    }
    void applyPictures() override {
        if (control().kind() != ControlKind::PictureBox)
            return;
        const auto pictures = control().pictures();
        label_->setPixmap(pictures.empty() ? QPixmap() : ToPixmap(pictures.front()));
    }

private:
    ClickLabel* label_;
};

// --- tree box ---------------------------------------------------------------------------

class TreeBox final : public QTreeWidget {
public:
    TreeBox(Control& control, QWidget* parent) : QTreeWidget(parent), control_(control) {}
    // The cause of a current-item change under way: 1 mouse, 2 keyboard, 0 the program.
    int cause = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const int saved = cause;
        cause = 1;
        QTreeWidget::mousePressEvent(event);
        cause = saved;
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int saved = cause;
        cause = 2;
        QTreeWidget::keyPressEvent(event);
        cause = saved;
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        QTreeWidget::mouseMoveEvent(event);
        control_.fire(Event::MouseMoved);
    }

private:
    Control& control_;
};

class TreeBoxPeer final : public QtControlPeer {
public:
    TreeBoxPeer(Control& control, TreeBox* tree) : QtControlPeer(control, tree), tree_(tree) {
        tree->setHeaderHidden(true);
        tree->setColumnCount(1);
        tree->setIconSize(QSize(16, 16));
        tree->setIndentation(16);
        tree->viewport()->setMouseTracking(true);
        tree->setMouseTracking(true);
        QObject::connect(tree, &QTreeWidget::currentItemChanged, tree,
                         [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                             if (programmatic_)
                                 return;
                             userCurrentItem(current ? idOf(current) : 0, tree_->cause);
                         });
        QObject::connect(tree, &QTreeWidget::itemExpanded, tree,
                         [this](QTreeWidgetItem* item) { userExpanded(idOf(item), true); });
        QObject::connect(tree, &QTreeWidget::itemCollapsed, tree,
                         [this](QTreeWidgetItem* item) { userExpanded(idOf(item), false); });
        imagesSet();
        for (int id : allItems(0))
            itemAdded(id);
        applyCommon();
    }

    void itemAdded(int id) override {
        if (items_.count(id))
            return;
        const int parentId = control().itemParent(id);
        auto* item = new QTreeWidgetItem(QStringList(ToQt(control().itemText(id))));
        item->setData(0, Qt::UserRole, id);
        setIcon(item, control().itemImage(id));
        if (parentId != 0 && items_.count(parentId))
            items_[parentId]->addChild(item);
        else
            tree_->addTopLevelItem(item);
        items_[id] = item;
        if (control().expanded(id))
            item->setExpanded(true);
        if (control().itemBold(id))
            itemBoldSet(id, true);
    }
    void itemsCleared() override {
        programmatic_ = true;
        tree_->clear();
        items_.clear();
        programmatic_ = false;
    }
    void currentItemSet(int id) override {
        programmatic_ = true;
        auto it = items_.find(id);
        tree_->setCurrentItem(it == items_.end() ? nullptr : it->second);
        programmatic_ = false;
    }
    void itemExpanded(int id, bool expanded) override {
        if (auto it = items_.find(id); it != items_.end())
            it->second->setExpanded(expanded);
    }
    void itemBoldSet(int id, bool bold) override {
        if (auto it = items_.find(id); it != items_.end()) {
            QFont font = it->second->font(0);
            font.setBold(bold);
            it->second->setFont(0, font);
        }
    }
    void itemMadeVisible(int id) override {
        if (auto it = items_.find(id); it != items_.end())
            tree_->scrollToItem(it->second);
    }
    void imagesSet() override {
        icons_.clear();
        for (const auto& picture : control().imageList())
            icons_.push_back(QIcon(ToPixmap(picture)));
        for (auto& [id, item] : items_)
            setIcon(item, control().itemImage(id));
    }

private:
    std::vector<int> allItems(int parent) const {
        std::vector<int> ids;
        for (int id : control().children(parent)) {
            ids.push_back(id);
            for (int child : allItems(id))
                ids.push_back(child);
        }
        return ids;
    }
    static int idOf(QTreeWidgetItem* item) { return item->data(0, Qt::UserRole).toInt(); }
    void setIcon(QTreeWidgetItem* item, int image) {
        if (image >= 0 && static_cast<std::size_t>(image) < icons_.size())
            item->setIcon(0, icons_[image]);
    }

    TreeBox* tree_;
    std::map<int, QTreeWidgetItem*> items_;
    std::vector<QIcon> icons_;
    bool programmatic_ = false;
};

// --- group box, radio button, check box, push button ------------------------------------

class GroupBoxPeer final : public QtControlPeer {
public:
    GroupBoxPeer(Control& control, QGroupBox* box) : QtControlPeer(control, box), box_(box) {
        applyCommon();
    }

protected:
    void applyText() override { box_->setTitle(ToQt(control().text())); }

private:
    QGroupBox* box_;
};

class ButtonPeer final : public QtControlPeer {
public:
    ButtonPeer(Control& control, QAbstractButton* button)
        : QtControlPeer(control, button), button_(button) {
        if (control.kind() != ControlKind::PushButton) {
            button->setCheckable(true);
            QObject::connect(button, &QAbstractButton::toggled, button, [this](bool checked) {
                if (!applying_)
                    userChecked(checked);
            });
        }
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [&control] { control.fire(Event::Clicked); });
        applyCommon();
    }

protected:
    void applyText() override { button_->setText(ToQt(control().text())); }
    void applyChecked() override {
        if (control().kind() == ControlKind::PushButton)
            return;
        applying_ = true;
        // Unchecking the checked radio button of a group needs exclusivity off for a moment.
        auto* radio = qobject_cast<QRadioButton*>(button_);
        if (radio && !control().checked())
            radio->setAutoExclusive(false);
        button_->setChecked(control().checked());
        if (radio)
            radio->setAutoExclusive(true);
        applying_ = false;
    }

private:
    QAbstractButton* button_;
    bool applying_ = false;
};

} // namespace

// ---------------------------------------------------------------------------------------

QtControlPeer::QtControlPeer(Control& control, QWidget* widget)
    : control_(control), widget_(widget) {
    widget->setObjectName(QString::fromStdString(text::GbkToUtf8(control.name())));
}

QtControlPeer::~QtControlPeer() {
    if (widget_) {
        // The widget outlives its peer until the loop deletes it; its signals must not reach
        // the peer meanwhile.
        QObject::disconnect(widget_, nullptr, nullptr, nullptr);
        widget_->hide();
        widget_->deleteLater();
    }
}

void QtControlPeer::applyCommon() {
    if (!widget_)
        return;
    if (const auto font = control_.font())
        widget_->setFont(ToQt(*font));
    for (Property property :
         {Property::Geometry, Property::Cursor, Property::Enabled, Property::Pictures,
          Property::Checked, Property::Text, Property::Visible})
        update(property);
}

void QtControlPeer::update(Property property) {
    if (!widget_)
        return;
    switch (property) {
    case Property::Text:
    case Property::TextColour:
        applyText();
        break;
    case Property::Cursor:
        widget_->setCursor(control_.cursor() == CursorShape::Hand ? Qt::PointingHandCursor
                                                                  : Qt::ArrowCursor);
        break;
    case Property::Visible:
        widget_->setVisible(control_.visible());
        break;
    case Property::Enabled:
        widget_->setEnabled(control_.enabled());
        break;
    case Property::Geometry:
        widget_->setGeometry(ToQt(control_.geometry()));
        break;
    case Property::Pictures:
        applyPictures();
        break;
    case Property::Checked:
        applyChecked();
        break;
    case Property::Focus:
        widget_->setFocus(Qt::OtherFocusReason);
        break;
    }
}

std::unique_ptr<ControlPeer> CreateControl(Control& control, QWidget* parent) {
    switch (control.kind()) {
    case ControlKind::GraphicButton:
        return std::make_unique<GraphicButtonPeer>(control, new GraphicButton(parent));
    case ControlKind::TransparentLabel:
        return std::make_unique<TransparentLabelPeer>(control, new TransparentLabel(parent));
    case ControlKind::ShapeBox: {
        auto* box = new ShapeBox(parent);
        if (const auto back = control.backColour())
            box->fill = ToQt(*back);
        return std::make_unique<PlainPeer>(control, box);
    }
    case ControlKind::EditBox:
        return std::make_unique<EditBoxPeer>(control, new EditBox(control, parent));
    case ControlKind::Label:
    case ControlKind::PictureBox: {
        auto* label = new ClickLabel(parent);
        if (const auto back = control.backColour()) {
            label->setAutoFillBackground(true);
            QPalette palette = label->palette();
            palette.setColor(QPalette::Window, ToQt(*back));
            label->setPalette(palette);
        }
        return std::make_unique<LabelPeer>(control, label);
    }
    case ControlKind::TreeBox:
        return std::make_unique<TreeBoxPeer>(control, new TreeBox(control, parent));
    case ControlKind::Browser:
        return CreateBrowser(control, parent);
    case ControlKind::GroupBox:
        return std::make_unique<GroupBoxPeer>(control, new QGroupBox(parent));
    case ControlKind::RadioButton:
        return std::make_unique<ButtonPeer>(control, new QRadioButton(parent));
    case ControlKind::CheckBox:
        return std::make_unique<ButtonPeer>(control, new QCheckBox(parent));
    case ControlKind::PushButton:
        return std::make_unique<ButtonPeer>(control, new QPushButton(parent));
    }
    return nullptr;
}

} // namespace vm::gui::qt

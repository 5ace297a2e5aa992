// The Qt backend's windows and controls, driven with real Qt input events.

#include "QtFixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEngineView>

#include <chrono>
#include <thread>

using namespace vm::gui;
using namespace vm::gui::testing;

namespace {

// Dispatches until `done` holds or two seconds pass.
template <typename Done> bool WaitFor(Done done, int ms = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        Application::instance().processPending(10);
    }
    return true;
}

WindowSpec EveryKind() {
    WindowSpec spec;
    spec.className = "Velum";
    spec.title = "Vellumark";
    spec.geometry = {50, 50, 860, 540};
    spec.border = Border::None;
    spec.background = Picture(860, 540, QColor(20, 60, 110));
    spec.dragArea = {0, 0, 860, 50};
    const std::vector<Bytes> faces = {Picture(37, 16, Qt::gray), Picture(37, 16, Qt::white),
                                      Picture(37, 16, Qt::black)};
    spec.controls = {
        {.name = G(u8"图形按钮_关闭"),
         .kind = ControlKind::GraphicButton,
         .geometry = {819, 2, 37, 16},
         .pictures = faces},
        {.name = G(u8"透明标签_设置"),
         .kind = ControlKind::TransparentLabel,
         .geometry = {674, 5, 28, 15},
         .text = G(u8"设置"),
         .textColour = Colour{255, 255, 255},
         .font = Font{G(u8"宋体"), -12, 400, 134},
         .cursor = CursorShape::Hand},
        {.name = G(u8"外形框1"), .kind = ControlKind::ShapeBox, .geometry = {592, 58, 175, 23}},
        {.name = G(u8"编辑框_搜索框"),
         .kind = ControlKind::EditBox,
         .container = G(u8"外形框1"),
         .geometry = {1, 1, 172, 20}},
        {.name = G(u8"编辑框_页码"),
         .kind = ControlKind::EditBox,
         .geometry = {591, 102, 25, 18},
         .text = "1"},
        {.name = G(u8"树型框1"), .kind = ControlKind::TreeBox, .geometry = {6, 90, 195, 416}},
        {.name = G(u8"标签1"),
         .kind = ControlKind::Label,
         .geometry = {200, 89, 1, 415},
         .backColour = Colour{4, 123, 194}},
        {.name = G(u8"图片框_更新"),
         .kind = ControlKind::PictureBox,
         .geometry = {199, 516, 14, 14},
         .pictures = {Picture(14, 14, Qt::red, "JPG")}},
        {.name = G(u8"外形框2"), .kind = ControlKind::ShapeBox, .geometry = {200, 125, 653, 381}},
        {.name = G(u8"超文本浏览框1"),
         .kind = ControlKind::Browser,
         .container = G(u8"外形框2"),
         .geometry = {-1, -1, 655, 385}},
        {.name = "group",
         .kind = ControlKind::GroupBox,
         .geometry = {220, 10, 300, 40},
         .text = "g"},
        {.name = "radio1",
         .kind = ControlKind::RadioButton,
         .container = "group",
         .geometry = {5, 15, 60, 20},
         .text = "r1"},
        {.name = "radio2",
         .kind = ControlKind::RadioButton,
         .container = "group",
         .geometry = {70, 15, 60, 20},
         .text = "r2"},
        {.name = "check",
         .kind = ControlKind::CheckBox,
         .container = "group",
         .geometry = {140, 15, 60, 20},
         .text = "c"},
        {.name = "push",
         .kind = ControlKind::PushButton,
         .container = "group",
         .geometry = {205, 12, 80, 24},
         .text = G(u8"修复数据库")},
    };
    return spec;
}

TEST_F(QtTest, EveryControlKindStandsAtItsGeometry) {
    bool activated = false;
    Window& window = app.loadWindow(
        EveryKind(), {{"", Event::FirstActivated, [&](EventArgs&) { activated = true; }}});
    QWidget* top = qt::WidgetOf(window);
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->isVisible());
    EXPECT_EQ(top->geometry(), QRect(50, 50, 860, 540));
    EXPECT_TRUE(top->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(WaitFor([&] { return activated; }));

    struct Expect {
        std::string name;
        const char* widgetClass;
    };
    const Expect kinds[] = {
        {G(u8"图形按钮_关闭"), "QAbstractButton"},
        {G(u8"编辑框_搜索框"), "QLineEdit"},
        {G(u8"树型框1"), "QTreeWidget"},
        {G(u8"标签1"), "QLabel"},
        {G(u8"图片框_更新"), "QLabel"},
        {G(u8"超文本浏览框1"), "QWebEngineView"},
        {"group", "QGroupBox"},
        {"radio1", "QRadioButton"},
        {"check", "QCheckBox"},
        {"push", "QPushButton"},
    };
    for (const auto& kind : kinds) {
        QWidget* widget = qt::WidgetOf(window.control(kind.name));
        ASSERT_NE(widget, nullptr) << kind.widgetClass;
        EXPECT_TRUE(widget->inherits(kind.widgetClass)) << kind.widgetClass;
    }
    for (Control* control : window.controls()) {
        QWidget* widget = qt::WidgetOf(*control);
        ASSERT_NE(widget, nullptr);
        const Rect r = control->geometry();
        EXPECT_EQ(widget->geometry(), QRect(r.left, r.top, r.width, r.height))
            << vm::text::GbkToUtf8(control->name());
        EXPECT_TRUE(widget->isVisible()) << vm::text::GbkToUtf8(control->name());
    }
    // The browser overlaps its frame by one pixel on each side.
    QWidget* browser = qt::WidgetOf(window.control(G(u8"超文本浏览框1")));
    EXPECT_EQ(browser->mapTo(top, QPoint(0, 0)), QPoint(199, 124));
    EXPECT_EQ(qt::WidgetOf(window.control(G(u8"图形按钮_关闭")))->cursor().shape(),
              Qt::PointingHandCursor);
    EXPECT_EQ(qt::WidgetOf(window.control(G(u8"透明标签_设置")))->font().pixelSize(), 12);
    EXPECT_EQ(static_cast<QPushButton*>(qt::WidgetOf(window.control("push")))->text(),
              QString::fromUtf8(u8"修复数据库"));
    EXPECT_FALSE(
        static_cast<QLabel*>(qt::WidgetOf(window.control(G(u8"图片框_更新"))))->pixmap().isNull());

    const char* out = std::getenv("VM_SCREENSHOT_DIR");
    top->grab().save(QString(out ? out : ".") + "/gui_qt_every_kind.png");
}

TEST_F(QtTest, RealMouseClicksRaiseTheirEvents) {
    int clicked = 0, pressed = 0;
    Window& window = app.loadWindow(
        EveryKind(),
        {{G(u8"图形按钮_关闭"), Event::Clicked, [&](EventArgs&) { ++clicked; }},
         {G(u8"透明标签_设置"), Event::LeftButtonDown, [&](EventArgs&) { ++pressed; }}});
    QWidget* button = qt::WidgetOf(window.control(G(u8"图形按钮_关闭")));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(qt::WidgetOf(window.control(G(u8"透明标签_设置"))), Qt::LeftButton);
    QTest::mouseClick(qt::WidgetOf(window.control(G(u8"透明标签_设置"))), Qt::RightButton);
    EXPECT_EQ(clicked, 1);
    EXPECT_EQ(pressed, 1);

    // Dragging the title area moves the border-less window.
    QWidget* top = qt::WidgetOf(window);
    const QPoint before = top->pos();
    QTest::mousePress(top, Qt::LeftButton, {}, QPoint(100, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(130, 45), top->mapToGlobal(QPointF(130, 45)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(top, &move);
    QTest::mouseRelease(top, Qt::LeftButton, {}, QPoint(130, 45));
    EXPECT_EQ(top->pos(), before + QPoint(30, 25));
}

TEST_F(QtTest, WindowManagerCloseArrivesAsWmCloseAtTheProcedure) {
    int exits = 0;
    app.onExit([&] { ++exits; });
    Window& window = app.loadWindow(EveryKind(), {});
    bool refuse = true;
    int closes = 0;
    const auto previous = window.procedure();
    window.setProcedure([&](Window& w, unsigned m, long long wp, long long lp) -> long long {
        if (m == WM_CLOSE) {
            ++closes;
            if (refuse)
                return 0;
        }
        return w.callProcedure(previous, m, wp, lp);
    });
    QWidget* top = qt::WidgetOf(window);
    EXPECT_FALSE(top->close());
    ASSERT_TRUE(WaitFor([&] { return closes == 1; }));
    EXPECT_TRUE(window.loaded());
    EXPECT_TRUE(top->isVisible());

    refuse = false;
    top->close();
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(closes, 2);
    EXPECT_FALSE(window.loaded());
    EXPECT_EQ(exits, 1);
}

TEST_F(QtTest, EditBoxFocusAndSwallowedEnter) {
    std::vector<std::string> seen;
    Window& window = app.loadWindow(
        EveryKind(),
        {{G(u8"编辑框_搜索框"), Event::GotFocus, [&](EventArgs&) { seen.push_back("got"); }},
         {G(u8"编辑框_搜索框"), Event::LostFocus, [&](EventArgs&) { seen.push_back("lost"); }},
         {G(u8"编辑框_搜索框"), Event::KeyDown, [&](EventArgs& args) {
              if (args.key == 13) {
                  seen.push_back("enter");
                  args.swallow = true;
              }
          }}});
    ASSERT_TRUE(WaitFor([&] { return window.active(); }));
    Control& search = window.control(G(u8"编辑框_搜索框"));
    search.setFocus();
    ASSERT_TRUE(WaitFor([&] { return search.hasFocus(); }));
    auto* edit = static_cast<QLineEdit*>(qt::WidgetOf(search));
    QTest::keyClicks(edit, "ab");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(search.text(), "ab");
    window.control(G(u8"编辑框_页码")).setFocus();
    ASSERT_TRUE(WaitFor([&] { return !search.hasFocus(); }));
    EXPECT_EQ(seen, (std::vector<std::string>{"got", "enter", "lost"}));

    // Text set by the program shows in the widget, and from another thread too.
    std::thread worker([&] { search.setText(G(u8"请输入您要搜索的关键字")); });
    worker.join();
    EXPECT_TRUE(
        WaitFor([&] { return edit->text() == QString::fromUtf8(u8"请输入您要搜索的关键字"); }));
}

TEST_F(QtTest, TreeBoxReportsMouseKeyboardAndProgramCauses) {
    std::vector<std::pair<long long, int>> changes; // (value, cause)
    Window& window = app.loadWindow(
        EveryKind(), {{G(u8"树型框1"), Event::CurrentItemChanged, [&](EventArgs& args) {
                           Control& tree =
                               Application::instance().mainWindow()->control(G(u8"树型框1"));
                           changes.emplace_back(tree.itemValue(tree.currentItem()), args.cause);
                       }}});
    Control& tree = window.control(G(u8"树型框1"));
    tree.setImageList({Picture(16, 16, Qt::yellow), Picture(16, 16, Qt::green)});
    const int latest = tree.addItem(0, G(u8"最新更新"), 0, -1);
    const int parent = tree.addItem(0, G(u8"源码"), 1, 5);
    tree.addItem(parent, G(u8"网络"), 1, 6);
    tree.expand(parent, true);
    auto* widget = static_cast<QTreeWidget*>(qt::WidgetOf(tree));
    ASSERT_EQ(widget->topLevelItemCount(), 2);
    EXPECT_EQ(widget->topLevelItem(1)->text(0), QString::fromUtf8(u8"源码"));
    EXPECT_FALSE(widget->topLevelItem(0)->icon(0).isNull());
    EXPECT_TRUE(widget->topLevelItem(1)->isExpanded());

    tree.setCurrentItem(latest);
    const QRect second = widget->visualItemRect(widget->topLevelItem(1));
    QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, second.center());
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key_Down);
    EXPECT_EQ(changes, (std::vector<std::pair<long long, int>>{{-1, 0}, {5, 1}, {6, 2}}));
    tree.clearItems();
    EXPECT_EQ(widget->topLevelItemCount(), 0);
}

TEST_F(QtTest, ModalDialogKeepsItsStateUntilClosed) {
    Window& main = app.loadWindow(EveryKind(), {});
    WindowSpec settings;
    settings.className = "settings";
    settings.title = G(u8"设置");
    settings.geometry = {50, 50, 337, 257};
    settings.border = Border::NarrowFixed;
    settings.controls = {
        {.name = "box", .kind = ControlKind::GroupBox, .geometry = {8, 8, 320, 70}},
        {.name = "r1",
         .kind = ControlKind::RadioButton,
         .container = "box",
         .geometry = {16, 16, 280, 22}},
        {.name = "r2",
         .kind = ControlKind::RadioButton,
         .container = "box",
         .geometry = {16, 40, 280, 22}},
    };
    bool r1AtClose = true;
    int clicks = 0;
    QTimer::singleShot(0, [&] {
        Window* dialog = app.findWindow("settings");
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(qt::WidgetOf(*dialog)->isModal());
        QTest::mouseClick(qt::WidgetOf(dialog->control("r2")), Qt::LeftButton, {}, QPoint(5, 11));
        qt::WidgetOf(*dialog)->close();
    });
    Window& dialog = app.loadWindow(
        settings,
        {{"", Event::Created,
          [&](EventArgs&) { app.findWindow("settings")->control("r1").setChecked(true); }},
         {"r2", Event::Clicked, [&](EventArgs&) { ++clicks; }},
         {"", Event::Closed,
          [&](EventArgs&) { r1AtClose = app.findWindow("settings")->control("r1").checked(); }}},
        &main, true);
    EXPECT_FALSE(dialog.loaded());
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(r1AtClose);
    EXPECT_TRUE(dialog.control("r2").checked());
    EXPECT_TRUE(main.loaded());
}

TEST_F(QtTest, MessageBoxIsAnsweredLikeAUser) {
    struct Case {
        int style;
        QMessageBox::StandardButton press;
        int answer;
        QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {0x44, QMessageBox::Yes, IDYES, QMessageBox::Information},
        {68, QMessageBox::No, IDNO, QMessageBox::Information},
        {64, QMessageBox::Ok, IDOK, QMessageBox::Information},
        {0, QMessageBox::Ok, IDOK, QMessageBox::NoIcon},
    };
    for (const auto& c : cases) {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QStringList buttons;
        auto answer = std::make_shared<QTimer>();
        answer->setInterval(10);
        QObject::connect(answer.get(), &QTimer::timeout, [&, press = c.press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            icon = box->icon();
            title = box->windowTitle();
            for (QAbstractButton* button : box->buttons())
                buttons << button->text();
            box->button(press)->click();
        });
        answer->start();
        EXPECT_EQ(app.messageBox(G(u8"您还有未关闭的窗口"), "Vellumark", c.style), c.answer);
        answer->stop();
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(title, "Vellumark");
        // Chinese whatever the locale of the test run.
        buttons.sort();
        if (c.answer == IDOK)
            EXPECT_EQ(buttons, QStringList{QString::fromUtf8(u8"确定")});
        else
            EXPECT_EQ(buttons,
                      (QStringList{QString::fromUtf8(u8"否(&N)"), QString::fromUtf8(u8"是(&Y)")}));
    }
}

TEST_F(QtTest, DoubleClickOnALabelIsOnePress) {
    int settings = 0, picture = 0;
    Window& window = app.loadWindow(
        EveryKind(),
        {{G(u8"透明标签_设置"), Event::LeftButtonDown, [&](EventArgs&) { ++settings; }},
         {G(u8"图片框_更新"), Event::LeftButtonDown, [&](EventArgs&) { ++picture; }}});
    // What the toolkit delivers for a double click: press, release, double click, release.
    for (const char8_t* name : {u8"透明标签_设置", u8"图片框_更新"}) {
        QWidget* label = qt::WidgetOf(window.control(G(name)));
        const QPointF at(3, 3), global = label->mapToGlobal(QPointF(3, 3));
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                  QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            const bool down = type != QEvent::MouseButtonRelease;
            QMouseEvent event(type, at, global, Qt::LeftButton,
                              down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(label, &event);
        }
    }
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(picture, 1);
}

TEST_F(QtTest, InputMethodTextReachesTheEditBox) {
    Window& window = app.loadWindow(EveryKind(), {});
    Control& search = window.control(G(u8"编辑框_搜索框"));
    auto* edit = static_cast<QLineEdit*>(qt::WidgetOf(search));
    ASSERT_TRUE(edit->testAttribute(Qt::WA_InputMethodEnabled));
    search.setFocus();
    ASSERT_TRUE(WaitFor([&] { return search.hasFocus(); }));
    // What fcitx5 or IBus send: a preedit while composing, then the committed text.
    QInputMethodEvent composing(QStringLiteral("zhong"), {});
    QApplication::sendEvent(edit, &composing);
    EXPECT_EQ(search.text(), "");
    QInputMethodEvent commit;
    commit.setCommitString(QString::fromUtf8(u8"中文源码"));
    QApplication::sendEvent(edit, &commit);
    EXPECT_EQ(edit->text(), QString::fromUtf8(u8"中文源码"));
    EXPECT_EQ(search.text(), G(u8"中文源码"));
}

} // namespace

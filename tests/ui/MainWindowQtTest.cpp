// The main window as a user sees it: real Qt widgets, every control where its table puts it, a
// screenshot, and the close button ending the program through the hook.

#include "gui/QtFixture.h"
#include "sys/Endpoints.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPoint>
#include <QTest>
#include <QWidget>

namespace vm::ui {
namespace {

using gui::testing::G;

class MainWindowQtTest : public gui::testing::QtTest {
protected:
    void SetUp() override {
        QtTest::SetUp();
        MainWindowHandlers h;
        h.created = [this](gui::Window& w) { window_ = &w; };
        h.closeCatalogue = [this] { ++closed_; };
        h.showList = [this](int action, long long) { lists_.push_back(action); };
        main_ = std::make_unique<MainWindow>(std::move(h));
        main_->Load(G(u8"http://127.0.0.1:9"));
        ASSERT_NE(window_, nullptr);
        main_->InstallHook(*window_);
    }

    gui::Window* window_ = nullptr;
    int closed_ = 0;
    std::vector<int> lists_;
    std::unique_ptr<MainWindow> main_;
};

TEST_F(MainWindowQtTest, ControlsAtTheirGeometryAndScreenshot) {
    QWidget* top = gui::qt::WidgetOf(*window_);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->size(), QSize(860, 540));
    for (const gui::ControlSpec& spec : MainWindow::Spec("http://127.0.0.1:9").controls) {
        QWidget* widget = gui::qt::WidgetOf(window_->control(spec.name));
        ASSERT_NE(widget, nullptr) << spec.name;
        const QRect expected(spec.geometry.left, spec.geometry.top, spec.geometry.width,
                             spec.geometry.height);
        EXPECT_EQ(widget->geometry(), expected) << text::GbkToUtf8(spec.name);
    }
    window_->control(G(u8"透明标签_版本信息")).setText(G(u8"主程序版本：1.4 测试版"));
    ShowStatusHint(G(u8"正在检查更新..."), {}, false);
    app.processPending();
    const char* dir = std::getenv("VM_SCREENSHOT_DIR");
    const QString file = QString::fromUtf8(dir ? dir : VM_SCREENSHOT_DEFAULT) + "/main_window.png";
    EXPECT_TRUE(top->grab().save(file));
}

TEST_F(MainWindowQtTest, PasteFromTheContextMenuIntoTheEmptySearchBox) {
    gui::Control& box = window_->control(G(u8"编辑框_搜索框"));
    box.setText(G(u8"请输入您要搜索的关键字"));
    auto* edit = static_cast<QLineEdit*>(gui::qt::WidgetOf(box));
    QApplication::clipboard()->setText(QString::fromUtf8(u8"网络例程"));
    box.setFocus();
    ASSERT_TRUE(gui::testing::WaitUntil([&] { return box.hasFocus(); }));
    EXPECT_EQ(box.text(), "");

    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                edit->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(edit, &menuEvent);
    QMenu* menu = nullptr;
    ASSERT_TRUE(gui::testing::WaitUntil(
        [&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }));
    // Qt's own menu, in Chinese.
    QAction* paste = nullptr;
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << action->text();
        if (action->text().startsWith(QString::fromUtf8(u8"粘贴")))
            paste = action;
    }
    ASSERT_NE(paste, nullptr) << texts.join("|").toStdString();
    EXPECT_EQ(box.text(), "");
    paste->trigger();
    menu->close();
    ASSERT_TRUE(
        gui::testing::WaitUntil([&] { return QApplication::activePopupWidget() == nullptr; }));
    app.processPending();
    EXPECT_EQ(box.text(), G(u8"网络例程"));

    // A real focus move still brings the prompt back to an empty box.
    box.setText("");
    window_->control(G(u8"编辑框_页码")).setFocus();
    ASSERT_TRUE(gui::testing::WaitUntil([&] { return !box.hasFocus(); }));
    EXPECT_EQ(box.text(), G(u8"请输入您要搜索的关键字"));
}

TEST_F(MainWindowQtTest, KeyboardReachesTheListControls) {
    const auto widget = [this](const char8_t* name) {
        return gui::qt::WidgetOf(window_->control(G(name)));
    };
    const auto focus = [] { return QApplication::focusWidget(); };
    const auto named = [](QWidget* w) {
        return w ? (QString(w->metaObject()->className()) + " " + w->objectName()).toStdString()
                 : std::string("none");
    };
    // The window's first focus is where it always was: never on a graphic button.
    ASSERT_TRUE(gui::testing::WaitUntil([&] { return window_->active(); }));
    app.processPending();
    EXPECT_NE(focus(), widget(u8"图形按钮_搜索"));
    gui::Control& box = window_->control(G(u8"编辑框_搜索框"));
    box.setFocus();
    ASSERT_TRUE(gui::testing::WaitUntil([&] { return box.hasFocus(); }));

    // Tab: search box, search button, page box, tree (Shift+Tab back).
    ASSERT_EQ(focus(), widget(u8"编辑框_搜索框")) << named(focus());
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), widget(u8"图形按钮_搜索")) << named(focus());
    QTest::keyClick(focus(), Qt::Key_Return);
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), widget(u8"编辑框_页码")) << named(focus());
    QTest::keyClick(focus(), Qt::Key_Return);
    QTest::keyClick(focus(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focus(), widget(u8"图形按钮_搜索")) << named(focus());
    QTest::keyClick(focus(), Qt::Key_Tab);
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), widget(u8"树型框1")) << named(focus());
    // Then into the list's page, where PageDown pages the list too.
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_TRUE(widget(u8"超文本浏览框1")->isAncestorOf(focus())) << named(focus());
    QTest::keyClick(focus(), Qt::Key_PageDown);
    widget(u8"树型框1")->setFocus();
    EXPECT_EQ(lists_, (std::vector<int>{kSearch, kJumpToTypedPage, kNextPage}));

    // PageUp and PageDown page the list from the tree and from an edit box alike.
    lists_.clear();
    QTest::keyClick(focus(), Qt::Key_PageDown);
    QTest::keyClick(focus(), Qt::Key_PageUp);
    box.setFocus();
    ASSERT_TRUE(gui::testing::WaitUntil([&] { return box.hasFocus(); }));
    QTest::keyClick(focus(), Qt::Key_PageDown);
    EXPECT_EQ(lists_, (std::vector<int>{kNextPage, kPreviousPage, kNextPage}));
    EXPECT_EQ(box.text(), "");

    // The mouse does what it did: a click on the search button searches without taking the
    // focus.
    lists_.clear();
    QTest::mouseClick(widget(u8"图形按钮_搜索"), Qt::LeftButton, {}, QPoint(10, 8));
    EXPECT_EQ(lists_, (std::vector<int>{kSearch}));
    EXPECT_EQ(focus(), widget(u8"编辑框_搜索框"));
}

TEST_F(MainWindowQtTest, CloseButtonEndsTheProgramWithCodeZero) {
    QWidget* close = gui::qt::WidgetOf(window_->control(G(u8"图形按钮_关闭")));
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(10, 8));
    app.processPending();
    EXPECT_EQ(closed_, 1);
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(app.exitCode(), 0);
}

} // namespace
} // namespace vm::ui

// The window model on the headless backend: procedure chain, events, message boxes, threads
// and the end of the program.

#include "platform/gui/Headless.h"
#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace vm::gui;

namespace {

std::string G(std::u8string_view utf8) {
    return vm::text::Gbk(utf8);
}

WindowSpec MainSpec() {
    WindowSpec spec;
    spec.className = "Velum";
    spec.title = "Vellumark";
    spec.geometry = {50, 50, 860, 540};
    spec.border = Border::None;
    spec.controls = {
        {.name = G(u8"图形按钮_关闭"),
         .kind = ControlKind::GraphicButton,
         .geometry = {819, 2, 37, 16}},
        {.name = G(u8"外形框1"), .kind = ControlKind::ShapeBox, .geometry = {592, 58, 175, 23}},
        {.name = G(u8"编辑框_搜索框"),
         .kind = ControlKind::EditBox,
         .container = G(u8"外形框1"),
         .geometry = {1, 1, 172, 20}},
        {.name = G(u8"编辑框_页码"), .kind = ControlKind::EditBox, .text = "1"},
        {.name = G(u8"树型框1"), .kind = ControlKind::TreeBox, .geometry = {6, 90, 195, 416}},
        {.name = G(u8"透明标签_设置"), .kind = ControlKind::TransparentLabel, .text = G(u8"设置")},
    };
    return spec;
}

class GuiModel : public ::testing::Test {
protected:
    void SetUp() override { UseHeadless(); }
    Application& app = Application::instance();
};

TEST_F(GuiModel, LoadFiresCreatedThenShowsAndActivatesOnce) {
    std::vector<std::string> seen;
    Window& window = app.loadWindow(MainSpec(), {{"", Event::Created,
                                                  [&](EventArgs&) {
                                                      seen.push_back("created");
                                                      EXPECT_FALSE(app.mainWindow()->visible());
                                                  }},
                                                 {"", Event::FirstActivated, [&](EventArgs&) {
                                                      seen.push_back("activated");
                                                  }}});
    EXPECT_TRUE(window.visible());
    app.processPending();
    window.hide();
    window.show();
    app.processPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"created", "activated"}));
    EXPECT_EQ(&window, app.mainWindow());
    EXPECT_EQ(&window, app.findWindow("Velum"));
    EXPECT_EQ(window.control(G(u8"图形按钮_关闭")).cursor(), CursorShape::Hand);
    EXPECT_EQ(window.find("nothing"), nullptr);
}

TEST_F(GuiModel, HookChainDecidesWhatCloseDoes) {
    Window& window = app.loadWindow(MainSpec(), {});
    std::vector<unsigned> hooked;
    bool refuse = true;
    const Window::Procedure previous = window.procedure();
    window.setProcedure([&](Window& w, unsigned m, long long wp, long long lp) -> long long {
        hooked.push_back(m);
        if (m == WM_CLOSE && refuse)
            return 0;
        if (m == 48360)
            return 0;
        return w.callProcedure(previous, m, wp, lp);
    });

    window.sendMessage(WM_CLOSE, 0, 0);
    EXPECT_TRUE(window.loaded());
    EXPECT_FALSE(app.ended());

    window.sendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(window.minimised());
    window.sendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(window.minimised());

    refuse = false;
    window.postMessage(48360, 3, 0);
    window.postMessage(WM_CLOSE, 0, 0);
    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(app.ended());
    EXPECT_FALSE(window.loaded());
    EXPECT_EQ(hooked,
              (std::vector<unsigned>{WM_CLOSE, WM_SYSCOMMAND, WM_SYSCOMMAND, 48360, WM_CLOSE}));
}

TEST_F(GuiModel, MessageBoxesTakeQueuedAnswersAndNeverConsentByDefault) {
    headless::QueueAnswer(IDYES);
    EXPECT_EQ(app.messageBox("q1", "Vellumark", 0x44), IDYES);
    EXPECT_EQ(app.messageBox("q2", "Vellumark", 68), IDNO);
    EXPECT_EQ(app.messageBox("info", "", 64), IDOK);
    int fromThread = 0;
    std::thread worker([&] { fromThread = app.messageBox("bg", "", 0); });
    while (headless::ShownBoxes().size() < 4)
        app.processPending();
    worker.join();
    EXPECT_EQ(fromThread, IDOK);
    const auto& boxes = headless::ShownBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].text, "q1");
    EXPECT_EQ(boxes[0].style, 0x44);
    EXPECT_EQ(boxes[1].answer, IDNO);
    EXPECT_EQ(boxes[3].text, "bg");
}

TEST_F(GuiModel, EditBoxFocusAndEnterKey) {
    const std::string prompt = G(u8"请输入您要搜索的关键字");
    int searches = 0;
    Window& window = app.loadWindow(
        MainSpec(), {{G(u8"编辑框_搜索框"), Event::GotFocus,
                      [&](EventArgs&) {
                          auto& box = app.mainWindow()->control(G(u8"编辑框_搜索框"));
                          if (box.text() == prompt)
                              box.setText("");
                      }},
                     {G(u8"编辑框_搜索框"), Event::LostFocus,
                      [&](EventArgs&) {
                          auto& box = app.mainWindow()->control(G(u8"编辑框_搜索框"));
                          if (box.text().empty())
                              box.setText(prompt);
                      }},
                     {G(u8"编辑框_搜索框"), Event::KeyDown, [&](EventArgs& args) {
                          if (args.key == 13) {
                              ++searches;
                              args.swallow = true;
                          }
                      }}});
    Control& search = window.control(G(u8"编辑框_搜索框"));
    search.setText(prompt);
    search.setFocus();
    EXPECT_TRUE(search.hasFocus());
    EXPECT_EQ(search.text(), "");
    headless::TypeText(search, "abc");
    EXPECT_FALSE(headless::PressKey(search, 'd'));
    EXPECT_TRUE(headless::PressKey(search, 13));
    EXPECT_EQ(search.text(), "abcd");
    EXPECT_EQ(searches, 1);
    headless::TypeText(search, "");
    window.control(G(u8"编辑框_页码")).setFocus();
    EXPECT_FALSE(search.hasFocus());
    EXPECT_EQ(search.text(), prompt);
}

TEST_F(GuiModel, TreeBoxItemsAndCauses) {
    std::vector<std::pair<int, int>> changes; // (current item, cause)
    Window& window = app.loadWindow(
        MainSpec(), {{G(u8"树型框1"), Event::CurrentItemChanged, [&](EventArgs& args) {
                          changes.emplace_back(
                              app.mainWindow()->control(G(u8"树型框1")).currentItem(), args.cause);
                      }}});
    Control& tree = window.control(G(u8"树型框1"));
    const int latest = tree.addItem(0, G(u8"最新更新"), 0, -1);
    const int parent = tree.addItem(0, G(u8"源码"), 1, 0);
    const int child = tree.addItem(parent, G(u8"网络"), 2, 17);
    EXPECT_EQ(tree.addItem(999, "orphan", 0, 0), 0);
    EXPECT_EQ(tree.itemCount(), 3);
    EXPECT_EQ(tree.children(0), (std::vector<int>{latest, parent}));
    EXPECT_EQ(tree.children(parent), (std::vector<int>{child}));
    EXPECT_EQ(tree.itemValue(child), 17);
    EXPECT_EQ(tree.itemValue(latest), -1);
    EXPECT_EQ(tree.itemText(child), G(u8"网络"));
    tree.expand(parent, true);
    EXPECT_TRUE(tree.expanded(parent));

    tree.setCurrentItem(latest);
    tree.setCurrentItem(latest); // unchanged: no event
    headless::SelectItem(tree, child, 1);
    headless::SelectItem(tree, parent, 2);
    tree.setCurrentItem(12345); // unknown: ignored
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{latest, 0}, {child, 1}, {parent, 2}}));
    tree.clearItems();
    EXPECT_EQ(tree.itemCount(), 0);
    EXPECT_EQ(tree.currentItem(), 0);
}

TEST_F(GuiModel, RadioButtonsInOneContainerExcludeEachOther) {
    WindowSpec spec;
    spec.className = "settings";
    spec.controls = {
        {.name = "g1", .kind = ControlKind::GroupBox},
        {.name = "g2", .kind = ControlKind::GroupBox},
        {.name = "r1", .kind = ControlKind::RadioButton, .container = "g1"},
        {.name = "r2", .kind = ControlKind::RadioButton, .container = "g1"},
        {.name = "r3", .kind = ControlKind::RadioButton, .container = "g2"},
        {.name = "c1", .kind = ControlKind::CheckBox, .container = "g1"},
    };
    Window& window = app.loadWindow(spec, {});
    window.control("r1").setChecked(true);
    window.control("r3").setChecked(true);
    window.control("c1").setChecked(true);
    window.control("r2").setChecked(true);
    EXPECT_FALSE(window.control("r1").checked());
    EXPECT_TRUE(window.control("r2").checked());
    EXPECT_TRUE(window.control("r3").checked());
    EXPECT_TRUE(window.control("c1").checked());
}

TEST_F(GuiModel, PropertiesSetFromAnotherThreadReadBackAtOnceAndHandlersStayOnGuiThread) {
    Window& window = app.loadWindow(MainSpec(), {});
    Control& label = window.control(G(u8"透明标签_设置"));
    std::thread::id procedureThread;
    window.setProcedure([&](Window&, unsigned m, long long, long long) -> long long {
        procedureThread = std::this_thread::get_id();
        return m + 1;
    });
    std::atomic<bool> done{false};
    long long answer = 0;
    std::thread worker([&] {
        label.setText("busy");
        label.setTextColour({255, 255, 255});
        label.setVisible(false);
        EXPECT_EQ(label.text(), "busy");
        answer = window.sendMessage(41, 0, 0);
        done = true;
    });
    while (!done)
        app.processPending();
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(procedureThread, std::this_thread::get_id());
    EXPECT_EQ(label.textColour(), (Colour{255, 255, 255}));
    EXPECT_FALSE(label.visible());
}

TEST_F(GuiModel, EndProgramRunsExitCallbacksOnceInOrder) {
    std::vector<int> order;
    app.onExit([&] { order.push_back(1); });
    app.onExit([&] {
        order.push_back(2);
        app.endProgram(9); // re-entered from clean-up: ignored
    });
    app.onExit([&] { order.push_back(3); });
    Window& window = app.loadWindow(MainSpec(), {});
    std::thread worker([&] { app.endProgram(5); });
    EXPECT_EQ(app.run(), 5);
    worker.join();
    app.endProgram(7);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(app.exitCode(), 5);
    EXPECT_FALSE(window.loaded());
}

TEST_F(GuiModel, UnloadingTheMainWindowEndsTheProgramInOrder) {
    int exits = 0;
    app.onExit([&] { ++exits; });
    Window& main = app.loadWindow(MainSpec(), {});
    WindowSpec viewerSpec;
    viewerSpec.className = "viewer";
    Window& viewer = app.loadWindow(viewerSpec, {}, &main);
    viewer.sendMessage(WM_CLOSE, 0, 0); // another window just unloads
    EXPECT_FALSE(viewer.loaded());
    EXPECT_FALSE(app.ended());
    main.close();
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(app.run(), 0);
}

TEST_F(GuiModel, EndProgramBeforeRunReturnsAtOnce) {
    int exits = 0;
    app.onExit([&] { ++exits; });
    app.loadWindow(MainSpec(), {{"", Event::Created, [&](EventArgs&) { app.endProgram(0); }}});
    EXPECT_TRUE(app.ended());
    EXPECT_FALSE(app.mainWindow()->visible());
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(exits, 1);
    // A worker that blocks on the ended GUI thread gives up instead of hanging.
    std::thread worker([&] { EXPECT_EQ(app.messageBox("late", "", 0), 0); });
    worker.join();
}

TEST_F(GuiModel, ModalWindowRunsItsOwnLoopAndClosedSeesControls) {
    Window& main = app.loadWindow(MainSpec(), {});
    WindowSpec settings;
    settings.className = "settings";
    settings.border = Border::NarrowFixed;
    settings.controls = {{.name = "c1", .kind = ControlKind::CheckBox}};
    bool savedState = false;
    headless::SetModalDriver([](Window& w) {
        w.control("c1").fire(Event::Clicked);
        w.sendMessage(WM_CLOSE, 0, 0);
    });
    Window& dialog = app.loadWindow(
        settings,
        {{"c1", Event::Clicked,
          [&](EventArgs&) { app.findWindow("settings")->control("c1").setChecked(true); }},
         {"", Event::Closed,
          [&](EventArgs&) { savedState = app.findWindow("settings")->control("c1").checked(); }}},
        &main, true);
    EXPECT_FALSE(dialog.loaded());
    EXPECT_TRUE(savedState);
    EXPECT_TRUE(main.loaded());
    EXPECT_FALSE(app.ended());
}

TEST_F(GuiModel, PostedRecordsReachTheProcedureInOrder) {
    Window& window = app.loadWindow(MainSpec(), {});
    const std::string className = "VmGuiTest" + std::to_string(::getpid());
    auto endpoint = vm::kernel::MessageEndpoint::Create(className);
    ASSERT_NE(endpoint, nullptr);
    std::vector<long long> received;
    window.setProcedure([&](Window& w, unsigned m, long long wp, long long lp) -> long long {
        if (m == 48360)
            received.push_back(wp);
        return w.callProcedure(&Window::DefaultProcedure, m, wp, lp);
    });
    app.listenForMessages(window, *endpoint);
    for (long long page = 1; page <= 3; ++page)
        ASSERT_TRUE(vm::kernel::PostMessageToClass(className, {48360, page, 0}));
    ASSERT_TRUE(vm::kernel::PostMessageToClass(className, {WM_CLOSE, 0, 0}));
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(received, (std::vector<long long>{1, 2, 3}));
}

TEST_F(GuiModel, KernelWaitsKeepDispatchingTheGuiThread) {
    Window& window = app.loadWindow(MainSpec(), {});
    Control& label = window.control(G(u8"透明标签_设置"));
    int fired = 0;
    std::thread worker([&] { app.post([&] { ++fired; }); });
    worker.join();
    EXPECT_TRUE(vm::kernel::WaitDispatching(2000, [&] { return fired == 1; }));
    label.setText("x");
    EXPECT_EQ(fired, 1);
}

} // namespace

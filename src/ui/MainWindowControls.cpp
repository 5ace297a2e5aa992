// The main window's control table.

#include "ui/MainWindow.h"

#include <initializer_list>

namespace vm::ui {

std::string_view MainAsset(std::string_view name); // generated from assets/main

namespace {

using gui::ControlKind;
using gui::ControlSpec;
using gui::CursorShape;

constexpr gui::Colour kWhite{255, 255, 255};
constexpr gui::Colour kListBlue{4, 123, 194};
constexpr gui::Colour kFootBlue{122, 212, 254};

gui::Font LabelFont() {
    return gui::Font{"宋体", -12, 400, 134};
}

std::vector<gui::Bytes> Pictures(std::initializer_list<std::string_view> names) {
    std::vector<gui::Bytes> pictures;
    for (std::string_view name : names)
        pictures.emplace_back(MainAsset(name));
    return pictures;
}

// Three faces of a graphic button: normal, mouse over, pressed.
std::vector<gui::Bytes> Faces(std::string_view stem, std::string_view extension) {
    const std::string base(stem);
    const std::string ext(extension);
    return Pictures({base + "_0." + ext, base + "_1." + ext, base + "_2." + ext});
}

ControlSpec Button(std::string name, gui::Rect at, std::vector<gui::Bytes> pictures) {
    ControlSpec c;
    c.name = std::move(name);
    c.kind = ControlKind::GraphicButton;
    c.geometry = at;
    c.cursor = CursorShape::Hand;
    c.pictures = std::move(pictures);
    return c;
}

ControlSpec TransparentLabel(std::string name, gui::Rect at, std::string text, gui::Colour colour,
                             CursorShape cursor = CursorShape::Default) {
    ControlSpec c;
    c.name = std::move(name);
    c.kind = ControlKind::TransparentLabel;
    c.geometry = at;
    c.text = std::move(text);
    c.textColour = colour;
    c.font = LabelFont();
    c.cursor = cursor;
    return c;
}

ControlSpec Plain(std::string name, ControlKind kind, gui::Rect at, std::string container = {}) {
    ControlSpec c;
    c.name = std::move(name);
    c.kind = kind;
    c.geometry = at;
    c.container = std::move(container);
    return c;
}

} // namespace

std::vector<gui::Bytes> MainWindow::TreeImages() {
    // Indexed by the tree's levels 1 to 4 (level - 1), then 4 for "最近更新": folder, open
    // folder, page, page, star; search and random follow for later use.
    return Pictures({"tree_0.bmp", "tree_1.bmp", "tree_2.bmp", "tree_2.bmp", "tree_3.bmp",
                     "tree_4.bmp", "tree_5.bmp"});
}

gui::WindowSpec MainWindow::Spec(std::string_view forumAddress) {
    gui::WindowSpec w;
    w.className = std::string(kMainWindowClass);
    w.title = "Vellumark";
    w.geometry = {50, 50, 860, 540};
    w.border = gui::Border::None;
    w.background = std::string(MainAsset("background.gif"));
    // The title area left of the setting/about labels and the window buttons.
    w.dragArea = {0, 0, 660, 50};

    auto& c = w.controls;
    c.push_back(Button("图形按钮_最小化", {757, 2, 30, 16}, Faces("min", "gif")));
    c.push_back(Button("图形按钮_最大化", {788, 2, 30, 16}, Pictures({"max_0.gif"})));
    c.push_back(Button("图形按钮_关闭", {819, 2, 37, 16}, Faces("close", "gif")));
    c.push_back(
        TransparentLabel("透明标签_设置", {674, 5, 28, 15}, "设置", kWhite, CursorShape::Hand));
    c.push_back(
        TransparentLabel("透明标签_关于", {711, 5, 28, 15}, "关于", kWhite, CursorShape::Hand));
    c.push_back(Button("图形按钮_在线交流", {16, 58, 69, 23}, Faces("chat", "jpg")));
    c.push_back(Button("图形按钮_在线提问", {111, 58, 69, 23}, Faces("ask", "jpg")));
    c.push_back(Button("图形按钮_分享资源", {206, 58, 69, 23}, Faces("share", "jpg")));
    c.push_back(Button("图形按钮_问题反馈", {301, 58, 69, 23}, Faces("feedback", "jpg")));
    c.push_back(Button("图形按钮_支持正版", {397, 58, 69, 23}, Faces("support", "jpg")));
    c.push_back(Plain("外形框1", ControlKind::ShapeBox, {592, 58, 175, 23}));
    c.push_back(Plain("编辑框_搜索框", ControlKind::EditBox, {1, 1, 172, 20}, "外形框1"));
    c.push_back(Button("图形按钮_搜索", {776, 58, 70, 23}, Faces("search", "gif")));

    c.push_back(Plain("树型框1", ControlKind::TreeBox, {6, 90, 195, 416}));

    ControlSpec divider = Plain("标签1", ControlKind::Label, {200, 89, 1, 415});
    divider.backColour = gui::Colour{200, 214, 229};
    c.push_back(std::move(divider));

    c.push_back(TransparentLabel("透明标签_页数标题", {205, 103, 125, 16}, "", kListBlue));
    c.push_back(TransparentLabel("透明标签_页数", {336, 103, 70, 16}, "", kListBlue));
    c.push_back(Button("图形按钮_上", {401, 98, 64, 24}, Faces("prev", "bmp")));
    c.push_back(Button("图形按钮_下", {468, 98, 64, 24}, Faces("next", "bmp")));
    c.push_back(TransparentLabel("透明标签2", {538, 103, 49, 16}, "当前位置", kListBlue));
    ControlSpec page = Plain("编辑框_页码", ControlKind::EditBox, {591, 102, 25, 18});
    page.text = "1";
    c.push_back(std::move(page));
    c.push_back(Button("图形按钮_跳", {637, 98, 64, 24}, Faces("jump", "bmp")));
    c.push_back(Button("图形按钮_跳1", {782, 98, 64, 24}, Faces("random", "bmp")));
    c.push_back(Plain("外形框2", ControlKind::ShapeBox, {200, 125, 653, 381}));
    // The browser overlaps its frame by one pixel on every side.
    c.push_back(Plain("超文本浏览框1", ControlKind::Browser, {-1, -1, 655, 385}, "外形框2"));
    c.push_back(TransparentLabel("透明标签_版本信息", {19, 516, 173, 15}, "", kFootBlue));

    ControlSpec mark = Plain("图片框_更新", ControlKind::PictureBox, {199, 516, 14, 14});
    mark.pictures = Pictures({"update_mark.jpg"});
    c.push_back(std::move(mark));

    c.push_back(TransparentLabel("透明标签_更新", {216, 516, 56, 15}, "最新版本", kFootBlue,
                                 CursorShape::Hand));
    c.push_back(TransparentLabel("透明标签_状态提示条", {282, 516, 278, 15}, "", kFootBlue));
    c.back().visible = false;
    c.push_back(TransparentLabel("透明标签_官方网址", {656, 516, 190, 15},
                                 "官方网址：" + std::string(forumAddress), kFootBlue));
    // The keyboard's way through the window; the mouse still gives the focus as before.
    w.tabOrder = {"编辑框_搜索框", "图形按钮_搜索", "编辑框_页码", "树型框1", "超文本浏览框1"};
    return w;
}

} // namespace vm::ui

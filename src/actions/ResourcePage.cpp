#include "actions/ResourcePage.h"

#include "net/UrlText.h"
#include "net/WebAccess.h"
#include "platform/fs/File.h"
#include "platform/gui/Gui.h"
#include "platform/text/Gbk.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "ui/ViewerWindow.h"

namespace vm::actions {
namespace {

constexpr std::string_view kVideoPageTemplate =
    "<style>*{margin:0;padding:0;overflow:hidden;border:0;}#player{position:absolute;height:"
    "100%;width:100%;background:#000}</style>\r\n<embed src='t_地址'  "
    "type='application/x-shockwave-flash' allowFullScreen='true' width='100%' height='100%' "
    "allowNetworking='all' allowScriptAccess='always'></embed>\r\n";
constexpr std::string_view kVideoAddressPlaceholder = "t_地址";
constexpr std::string_view kArticleAdvert =
    "更多更好的Tessel源码尽在Vellumark，如果需要下载Vellumark,请百度一下";
constexpr std::string_view kIndent = "&nbsp;&nbsp;&nbsp;&nbsp;";
constexpr std::string_view kIntroductionFile = "set\\dt\\js.html";
constexpr std::string_view kVideoFile = "set\\dt\\look.html";

// The viewer's place beside the main window, whatever the user did with it since.
constexpr int kOffsetLeft = 156;
constexpr int kOffsetTop = 50;
constexpr int kWidth = 700;
constexpr int kHeight = 460;

// Counts the showings, so that a showing still waiting for its article when the user asks for
// another one leaves the viewer to the newer one.
int& Showings() {
    static int showings = 0;
    return showings;
}

// GET with the default headers and the 60 s deadline, the UTF-8 page converted to GBK.
std::string FetchArticle(std::string_view address) {
    std::string url(address);
    net::WebAccessArgs args;
    args.decodeMode = 1;
    return net::WebAccess(url, args);
}

void PlaceViewer(gui::Window& viewer, const gui::Window& mainWindow) {
    const gui::Rect main = mainWindow.geometry();
    viewer.setGeometry({main.left + kOffsetLeft, main.top + kOffsetTop, kWidth, kHeight});
    viewer.show();
    // A minimised viewer would take the page without the user ever seeing it.
    if (viewer.minimised())
        viewer.restore();
}

} // namespace

std::string_view VideoPageTemplate() {
    return kVideoPageTemplate;
}

std::string_view ArticleAdvert() {
    return kArticleAdvert;
}

std::string VideoPage(std::string_view video) {
    // The address sits inside a single-quoted attribute; a quote in it would end the
    // attribute early and let the rest of the address into the tag.
    const std::string address = text::ReplaceAll(video, "'", "&#39;");
    return std::string(kCharsetDeclaration) + "\r\n" +
           text::ReplaceAll(kVideoPageTemplate, kVideoAddressPlaceholder, address);
}

bool IsArticleAddress(std::string_view introduction, std::string_view blogPrefix) {
    return !blogPrefix.empty() && introduction.substr(0, blogPrefix.size()) == blogPrefix;
}

std::string ArticleIntroduction(std::string_view page) {
    return text::ReplaceAll(net::CutBetween(page, kArticleStart, kArticleEnd), kArticleAdvert, "");
}

std::string IntroductionPage(std::string_view introduction, std::string_view blogPrefix) {
    std::string body;
    if (IsArticleAddress(introduction, blogPrefix))
        body = ArticleIntroduction(FetchArticle(introduction));
    else
        body = std::string(kIndent) + std::string(introduction);
    return std::string(kCharsetDeclaration) + body;
}

void ShowResourcePage(std::string_view introduction, std::string_view title,
                      std::string_view video) {
    gui::Window* mainWindow = gui::Application::instance().findWindow(ui::kMainWindowClass);
    if (mainWindow == nullptr)
        return;
    const int showing = ++Showings();
    gui::Window& viewer = ui::ViewerWindow::Load(*mainWindow);
    PlaceViewer(viewer, *mainWindow);

    const std::string folder = sys::ProgramFolder();
    std::string page;
    gui::PagePolicy policy;
    if (!video.empty()) {
        // The player is script; the page itself is our template and runs nothing of its own.
        policy.flash = true;
        policy.movie = std::string(video);
        policy.unplayable = "这个视频无法播放，可以在浏览器中打开：";
        viewer.setTitle("观看视频:" + std::string(title));
        fs::WriteFileAtomic(folder + std::string(kVideoFile), VideoPage(video));
        page = kVideoFile;
    } else {
        viewer.setTitle("详细介绍:" + std::string(title));
        const std::string contents =
            IntroductionPage(introduction, sys::CurrentEndpoints().blogPrefix);
        if (showing != Showings())
            return;
        fs::WriteFileAtomic(folder + std::string(kIntroductionFile), contents);
        page = kIntroductionFile;
        // An introduction is formatted text from the catalogue or the web; it runs nothing.
        policy.scripts = false;
    }

    gui::Control& browser = ui::ViewerWindow::Browser(viewer);
    browser.navigate(folder + page, policy);
    browser.setFocus();
}

} // namespace vm::actions

#pragma once
// The introduction and video pages shown in the viewer window. Each showing writes a small
// page into set\dt (js.html or look.html) and points the viewer's browser at it.

#include <string>
#include <string_view>

namespace vm::actions {

// The fixed texts with Chinese in them live in the .cpp, where they are GBK; a header constant
// would take another code page's bytes in a test built with UTF-8 literals.

// The video page; "t_地址" stands for the video address.
std::string_view VideoPageTemplate();
// Where an introduction lies in a blog article page, and the advert cut out of it.
constexpr std::string_view kArticleStart =
    "<div id=content class=\"content text-content clearfix\">";
constexpr std::string_view kArticleEnd = "<div class=\"mod-post-info clearfix\">";
std::string_view ArticleAdvert();

// The pages are GBK bytes; the declaration keeps the browser from guessing another code page.
constexpr std::string_view kCharsetDeclaration = "<meta charset=\"gbk\">";

// Shows a resource's introduction (video empty) or its video (introduction empty) in the
// viewer window, which is loaded on first use, placed beside the main window and given the
// keyboard focus. The introduction arrives with its line breaks already turned into HTML. An
// introduction that is the address of a blog article is fetched, and the article's body shown;
// a failed fetch shows an empty page. Does nothing while the main window is not loaded.
void ShowResourcePage(std::string_view introduction, std::string_view title,
                      std::string_view video);

// The steps of a showing, reachable one by one for tests.

// The contents of look.html for a video address.
std::string VideoPage(std::string_view video);
// True when the introduction begins with the blog host's address (never for an empty one).
bool IsArticleAddress(std::string_view introduction, std::string_view blogPrefix);
// The introduction cut out of a fetched article page, advert removed; "" when the page lacks
// the markers in their order.
std::string ArticleIntroduction(std::string_view page);
// The contents of js.html: the article cut from the page fetched at the introduction's
// address (the UTF-8 page converted to GBK), or the inline introduction, its first line
// indented like the lines after it. Fetching waits while dispatching window messages.
std::string IntroductionPage(std::string_view introduction, std::string_view blogPrefix);

} // namespace vm::actions

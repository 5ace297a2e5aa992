#include "catalogue/Render.h"

#include "platform/fs/File.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <optional>

namespace vm::catalogue {
namespace {

constexpr std::string_view kSearchPrompt = "请输入您要搜索的关键字";
constexpr std::string_view kSearchResultTitle = "搜索结果";
constexpr std::string_view kResourceFolder = "资源目录\\";
constexpr std::string_view kMarkOpen = "<span class=\"em1\">";
constexpr std::string_view kMarkClose = "</span>";
constexpr int kRetryMs = 50;

// The row template, one piece per placeholder; the pieces are joined in one pass, so a
// placeholder's text that appears inside a title is never taken for a placeholder.
constexpr std::string_view kRowHead = "<div id=\"bg\">\r\n"
                                      "<table width=\"100%\" border=\"0\" cellpadding=\"5\" "
                                      "cellspacing=\"0\">\r\n"
                                      "\t<tr class=\"dreamdu\">\r\n"
                                      "\t\t<td width=\"80%\" valign=\"bottom\">\r\n"
                                      "\t\t\t<strong>";
constexpr std::string_view kRowAfterTitle = "</strong>";
constexpr std::string_view kRowAfterIntroduction = "<br />\r\n\t\t\t<span class=\"STYLE6\">";
constexpr std::string_view kRowAfterDate = "</span>\r\n\t\t</td>\r\n\t\t";
constexpr std::string_view kRowAfterDownload = "\r\n\t\t";
constexpr std::string_view kRowTail = "\r\n\t</tr>\r\n</table>\r\n</div>\r\n";

std::string Anchor(std::string_view link, std::string_view tip, std::string_view content) {
    std::string a = "<a href=\"";
    a += link;
    a += "\" TITLE=\"";
    a += tip;
    a += "\" target=\"_blank\">";
    a += content;
    a += "</a>";
    return a;
}

std::string Picture(std::string_view file) {
    return "<img src=\"" + std::string(file) +
           "\" width=\"69\" height=\"23\" border=\"0\" align=\"right\" />";
}

std::string NameSpan(std::string_view html) {
    return "<span class=\"SuoShu\" >" + std::string(html) + "</span>";
}

std::string Cell(std::string_view anchor) {
    return "<td width=\"10%\">" + std::string(anchor) + "</td>";
}

std::string Command(std::string_view marker, long long position) {
    return std::string(marker) + std::to_string(position) + std::string(marker);
}

// Free text inside a link command: escaped for the attribute, and "%" kept from being read
// as an escape when the browser hands the address back decoded.
std::string CommandText(std::string_view marker, std::string_view text) {
    const std::string escaped = text::ReplaceAll(HtmlEscape(text), "%", "%25");
    return std::string(marker) + escaped + std::string(marker);
}

bool HasWildcard(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); at += text::CharLengthAt(text, at))
        if (text[at] == '*' || text[at] == '?')
            return true;
    return false;
}

// Byte offset of `needle` in `text` from byte `from` (ASCII letters in any case), or npos.
std::size_t FindFrom(std::string_view text, std::string_view needle, std::size_t from) {
    const int position = text::Find(text.substr(from), needle);
    return position < 0 ? std::string_view::npos : from + static_cast<std::size_t>(position - 1);
}

struct Piece {
    enum Kind { Text, Open, Close } kind = Text;
    std::string text;
};

std::string RenderRow(const PageInput& in, const ResourceRecord& r, long long position,
                      const std::vector<std::string>& keywords, const std::string& folder) {
    const std::string sizeText = r.size.empty() ? std::string() : "文件大小:" + r.size;
    std::string titleSpan = "<span TITLE=\"作者:" + HtmlEscape(r.author) + " " +
                            HtmlEscape(sizeText) + "\" class=\"em" + std::to_string(r.style) +
                            "\">" + MarkKeywords(r.title, keywords) + "</span>";

    std::string categoryLink;
    if (in.latestShown || in.searchOrRandomShown) {
        const std::string name = HtmlEscape(CategoryName(in.data, r.category));
        categoryLink = Anchor(Command("#id#", position),
                              "点击跳转到 &quot;" + name + "&quot; 栏目下", NameSpan(name));
    }
    const std::string date = DateText(r.modified) + " " + categoryLink;

    std::string download;
    if (!r.address.empty()) {
        const std::string found = FindArchive(folder, r.title);
        if (found.empty())
            download = Cell(Anchor(Command("#xz#", position), "点击下载", Picture("down.gif")));
        else
            download = Cell(Anchor(CommandText("#ck#", folder + found),
                                   "点击打开文件 &quot;" + HtmlEscape(found) + "&quot; 所处目录",
                                   Picture("see.gif")));
    }

    std::string introduction;
    if (!r.introduction.empty()) {
        const std::string title = HtmlEscape(r.title);
        if (!r.address.empty())
            introduction =
                Anchor(Command("#js#", position), "点击显示 &quot;" + title + "&quot; 的详细介绍",
                       NameSpan("[详细介绍]"));
        else
            download = Cell(Anchor(Command("#js#", position), "点击查看&quot;" + title + "&quot;",
                                   Picture("see.gif")));
    }

    std::string video;
    if (!r.video.empty())
        video = Cell(Anchor(Command("#sp#", position), "点击观看视频", Picture("look.gif")));

    std::string row;
    row.reserve(512 + titleSpan.size() + download.size());
    row += kRowHead;
    row += titleSpan;
    row += kRowAfterTitle;
    row += introduction;
    row += kRowAfterIntroduction;
    row += date;
    row += kRowAfterDate;
    row += download;
    row += kRowAfterDownload;
    row += video;
    row += kRowTail;
    return row;
}

std::string NotFoundText(std::string_view searchText) {
    const std::string k = HtmlEscape(searchText);
    return "<h4 align=center><br />未找到关于\"" + k +
           "\"结果<br /><br />若您要搜索关于作者的相关信息 请在关键字前面添加 @<br /><br />例如:" +
           Anchor(CommandText("#ss#", searchText), "点击搜索作者 " + k, NameSpan("@" + k)) +
           "</h2>";
}

} // namespace

std::string HtmlEscape(std::string_view text) {
    // The four bytes lie below every GBK trail byte, so a byte test is safe.
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string MarkKeywords(std::string_view title, const std::vector<std::string>& keywords) {
    // Marks are found in the text only, never in the marks already made: a keyword such as
    // "span" must not break the markup of an earlier one.
    std::vector<Piece> pieces{{Piece::Text, std::string(title)}};
    for (const std::string& keyword : keywords) {
        if (keyword.empty() || keyword == kSearchPrompt)
            continue;
        std::string found;
        for (const Piece& p : pieces) {
            const std::size_t at =
                p.kind == Piece::Text ? FindFrom(p.text, keyword, 0) : std::string_view::npos;
            if (at != std::string_view::npos) {
                found = p.text.substr(at, keyword.size());
                break;
            }
        }
        if (found.empty())
            continue;
        std::vector<Piece> marked;
        for (Piece& p : pieces) {
            if (p.kind != Piece::Text) {
                marked.push_back(std::move(p));
                continue;
            }
            std::size_t from = 0;
            for (std::size_t at; (at = FindFrom(p.text, keyword, from)) != std::string_view::npos;
                 from = at + keyword.size()) {
                marked.push_back({Piece::Text, p.text.substr(from, at - from)});
                marked.push_back({Piece::Open, {}});
                marked.push_back({Piece::Text, found});
                marked.push_back({Piece::Close, {}});
            }
            marked.push_back({Piece::Text, p.text.substr(from)});
        }
        pieces = std::move(marked);
    }
    std::string html;
    for (const Piece& p : pieces) {
        if (p.kind == Piece::Open)
            html += kMarkOpen;
        else if (p.kind == Piece::Close)
            html += kMarkClose;
        else
            html += HtmlEscape(p.text);
    }
    return html;
}

std::string DateText(long long seconds) {
    // Days since 1970-01-01 in UTC+8, then the civil date (proleptic Gregorian).
    const long long local = seconds + 8 * 3600;
    long long days = local / 86400 - (local % 86400 < 0 ? 1 : 0);
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return std::to_string(year) + "年" + std::to_string(month) + "月" + std::to_string(day) + "日";
}

std::string FindArchive(std::string_view folder, std::string_view title) {
    const std::string name = std::string(title) + ".rar";
    const std::string path = std::string(folder) + name;
    if (!HasWildcard(name))
        return fs::FindFirstFile(path);
    // A wildcard in a title would find some other archive; only the exact name counts.
    return fs::FileSize(path) >= 0 || fs::IsFolder(path) ? name : std::string();
}

std::string RenderPageHtml(const PageInput& in) {
    const std::vector<std::string> keywords = SplitKeywords(in.keywordText);
    std::string html;
    if (in.list && in.pages && in.page >= 1 &&
        in.page <= static_cast<long long>(in.pages->size())) {
        const auto [first, last] = (*in.pages)[static_cast<std::size_t>(in.page - 1)];
        // Records of one category that follow each other share its folder, looked up once (for
        // the first of them that has an address: a record without one never needs it).
        int lastCategory = 0;
        std::optional<std::string> folder;
        for (int i = first; i >= 1 && i <= last && i <= static_cast<int>(in.list->size()); ++i) {
            const ResourceRecord& r = (*in.list)[static_cast<std::size_t>(i - 1)];
            if (r.category != lastCategory) {
                lastCategory = r.category;
                folder.reset();
            }
            if (!folder && !r.address.empty())
                folder = std::string(in.programFolder) + std::string(kResourceFolder) +
                         CategoryPath(in.data, r.address);
            html += RenderRow(in, r, i, keywords, folder.value_or(std::string()));
            html += "\r\n";
        }
    }
    if (in.pages && !in.pages->empty() && in.pages->front().second == 0 &&
        in.listTitle == kSearchResultTitle)
        html = NotFoundText(in.searchBoxText);
    return html;
}

bool InjectListHtml(gui::Control& browser, std::shared_ptr<gui::Document>& document,
                    std::string_view html, int maxWaitMs) {
    const std::uint32_t start = kernel::TickCount();
    const auto timeLeft = [&] { return maxWaitMs - static_cast<int>(kernel::TickCount() - start); };
    for (;;) {
        // A document from a page that has gone fails every call; the browser's current one
        // takes its place.
        const std::shared_ptr<gui::Document> current = browser.document();
        if (current && current != document)
            document = current;
        if (document && document->setInnerHtml("list", html)) {
            document->execScript("DreamduColorRows()", "JavaScript");
            return true;
        }
        if (timeLeft() <= 0)
            return false;
        kernel::WaitDispatching(std::min(kRetryMs, timeLeft()));
    }
}

} // namespace vm::catalogue

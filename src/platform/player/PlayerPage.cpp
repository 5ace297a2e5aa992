#include "platform/player/PlayerPage.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace vm::player {
namespace {

// A JavaScript string literal of UTF-8 text; "</" is split so the text can never end a script
// element it is put in.
std::string JsString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '/':
            out += (i > 0 && text[i - 1] == '<') ? "\\/" : "/";
            break;
        default:
            if (c < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

bool HasPlayer(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::is_regular_file(folder / "ruffle.js", error);
}

// The watch: the player element shows the movie (ready state 2), or it panics, or it never comes.
constexpr const char* kWatch = R"JS(
(function () {
  var given = false;
  function unplayable() {
    if (given) return;
    given = true;
    var element = document.querySelector("ruffle-embed,ruffle-object,ruffle-player,embed,object");
    var address = element ? (element.getAttribute("src") || element.getAttribute("data") || "") : "";
    if (!address && window.__vmMovie) address = window.__vmMovie;
    var line = document.createElement("p");
    line.id = "vm-unplayable";
    line.style.cssText = "margin:12px;font:14px sans-serif;color:#000;background:#fff;overflow:visible";
    line.appendChild(document.createTextNode(TEXT));
    var link = document.createElement("a");
    link.href = address;
    link.target = "_blank";
    link.textContent = address;
    line.appendChild(link);
    document.body.textContent = "";
    document.body.style.background = "#fff";
    document.body.appendChild(line);
  }
  function watch() {
    var start = Date.now();
    var timer = setInterval(function () {
      var player = document.querySelector("ruffle-embed,ruffle-object,ruffle-player");
      var failed = !window.RufflePlayer || !window.RufflePlayer.newest ||
          (player && player.shadowRoot && player.shadowRoot.querySelector("#panic"));
      if (player && player.readyState === 2 && !failed) {
        clearInterval(timer);
        document.documentElement.setAttribute("data-vm-playing", "1");
        return;
      }
      if (failed || Date.now() - start > PATIENCE) {
        clearInterval(timer);
        unplayable();
      }
    }, 100);
  }
  if (document.readyState === "loading")
    document.addEventListener("DOMContentLoaded", watch);
  else
    watch();
})();
)JS";

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

} // namespace

std::string PlayerFolder() {
    if (const char* chosen = std::getenv("VM_PLAYER_DIR"); chosen != nullptr && *chosen != '\0')
        return HasPlayer(chosen) ? std::string(chosen) : std::string();
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const std::filesystem::path folder = self.parent_path() / "ruffle";
    return HasPlayer(folder) ? folder.string() : std::string();
}

std::string PlayerScriptOf(const std::string& folder) {
    if (folder.empty())
        return {};
    std::ifstream in(std::filesystem::path(folder) / "ruffle.js", std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string PageScript(const std::string& relayBase, const std::string& playerScript,
                       const std::string& unplayable, int patienceMs) {
    std::string script;
    script += "window.RufflePlayer = window.RufflePlayer || {};\n";
    script += "window.RufflePlayer.config = {\n";
    script += "  publicPath: " + JsString(relayBase + "player/") + ",\n";
    script += "  autoplay: \"on\", unmuteOverlay: \"hidden\", splashScreen: false,\n";
    script += "  letterbox: \"on\", warnOnUnsupportedContent: false, showSwfDownload: false,\n";
    // The movie may not script the page or send it elsewhere.
    script += "  allowScriptAccess: false, allowNetworking: \"internal\", openUrlMode: \"deny\",\n";
    script += "  urlRewriteRules: [[/^(https?:\\/\\/.*)$/i, " + JsString(relayBase + "fetch/$1") +
              "]]\n};\n";
    // A player script that throws must not keep the watch from speaking.
    if (!playerScript.empty())
        script += "try {\n" + playerScript + "\n} catch (e) {}\n";
    script += Replace(Replace(kWatch, "TEXT", JsString(unplayable)), "PATIENCE",
                      std::to_string(patienceMs));
    return script;
}

} // namespace vm::player

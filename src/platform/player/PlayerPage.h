#pragma once
// The Flash player given to a page from outside it: where its files lie, and the script that
// configures it, runs it and watches that the movie starts.

#include <string>

namespace vm::player {

// The player's folder, "ruffle" beside the executable (a Linux path), or "" when it holds no
// ruffle.js. A folder named by VM_PLAYER_DIR is taken first.
std::string PlayerFolder();

// ruffle.js of the folder, or "" when it cannot be read.
std::string PlayerScriptOf(const std::string& folder);

// The script a Flash page runs when its document is created (UTF-8): the player's configuration
// (its files and every address a movie loads go through the relay at `relayBase`, which ends in
// "/"; it starts on its own, sound on), then `playerScript`, then a watch that replaces the
// page's content by `unplayable` followed by the movie's address as a link opening a new window,
// once the player fails, is missing, or shows no movie within `patienceMs`.
std::string PageScript(const std::string& relayBase, const std::string& playerScript,
                       const std::string& unplayable, int patienceMs = 15000);

} // namespace vm::player

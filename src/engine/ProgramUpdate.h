#pragma once
// The program update that the program hands to the engine: main.7z, downloaded into the
// program folder, holds a new program. The engine unpacks it aside, makes sure it really holds
// the program, ends the running program, moves the new files over the old ones and starts the
// program again. A damaged or foreign archive changes nothing in the folder.

#include <string>
#include <string_view>

namespace vm::engine {

struct UpdatePlan {
    std::string programFolder; // Windows path text ending in "\"
    std::string archive;       // programFolder + "main.7z"
    std::string programFile = "vellumark";
    std::string windowClass = "Velum";
    // How long the running program gets to close after the posted WM_CLOSE before it is
    // ended; its close may wait for the user's answer to a question.
    int closeWaitMs = 15000;
};

struct UpdateOutcome {
    bool ok = false;
    std::string message; // GBK, for the user
};

// The archive library must be loaded (sys::LoadBuiltinArchiveLibrary). main.7z is removed
// afterwards whether the update succeeded or not: a bad archive would only fail again.
UpdateOutcome ApplyProgramUpdate(const UpdatePlan& plan);

// Moves every entry of `from` into `to` (both ending in "\"), merging folders and replacing
// files of the same name. False at the first entry that cannot be moved.
bool MoveEntries(const std::string& from, const std::string& to);
// Removes a folder (ending in "\") with everything in it; true when it is gone.
bool RemoveTree(const std::string& folder);

} // namespace vm::engine

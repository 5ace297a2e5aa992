#pragma once
// The settings window: the download mode, the two options handed to the download engine and
// three maintenance buttons. Modal over the main window; loaded anew every time, so its
// controls always start from set\Start.ini.

#include "platform/gui/Gui.h"

#include <functional>
#include <string_view>
#include <vector>

namespace vm::ui {

constexpr std::string_view kSettingsWindowClass = "VelumSettings";

// What applying the downloaded catalogue archive came to.
enum class CatalogueApplyResult {
    NoArchive, // no set\data.7z to apply
    Applied,
    Failed, // not unpacked; the old catalogue stays
};

// The maintenance operations behind the three buttons. Handlers left empty count as failures
// (the two repairs) or do nothing (the version check).
struct SettingsWindowHandlers {
    std::function<void()> checkProgramVersion;
    std::function<bool()> downloadCatalogueArchive; // set\data.7z written
    // Applies set\data.7z while the program runs (not the start-up variant).
    std::function<CatalogueApplyResult()> applyCatalogueArchive;
    std::function<bool(bool endRunningEngines)> repairDownloadEngine;
};

class SettingsWindow {
public:
    explicit SettingsWindow(SettingsWindowHandlers handlers);

    static gui::WindowSpec Spec();
    std::vector<gui::Binding> Bindings();

    // Loads the window as a modal dialog owned by `owner` and returns once it has closed,
    // with the choices written to set\Start.ini and loaded again.
    void Load(gui::Window* owner);

    // The download-engine options mean nothing when downloads go through the web page, so
    // they are greyed then; their ticks stay as they are.
    static void ApplyEnablingRule(gui::Window& window);

private:
    void OnCreated();
    void OnClosing();
    void RepairCatalogue();
    void RepairEngine();

    SettingsWindowHandlers handlers_;
    // Kept from the created event on: a repair may still be running when the window has
    // closed, and the unloaded window object stays valid until the program ends.
    gui::Window* window_ = nullptr;
};

} // namespace vm::ui

#pragma once
// The updates of the program (handed to the download engine as main.7z), of the download
// engine (up.7z) and of the catalogue (data.7z, kept as set\data.7z until it is applied).

#include <string>
#include <string_view>

namespace vm::update {

constexpr std::string_view kCatalogueArchive = "set\\data.7z";
// Where a catalogue archive that failed to apply is set aside (the last one only), so that it
// is not tried again at every start and can still be looked at.
constexpr std::string_view kRefusedCatalogueArchive = "set\\data.refused.7z";

// ProgramFolder + "set\data.7z".
std::string CatalogueArchivePath();

// Whether the catalogue file at `path` opens with the catalogue's password and both of its
// tables, List and Tree, can be read: what start-up will ask of it.
bool CatalogueFileOpens(const std::string& path);
// Whether the 7z archive at `path` holds a TreeList.mdb for which CatalogueFileOpens holds.
// Unpacks it into a staging folder under set\ and removes that again; nothing else changes.
bool CatalogueArchiveIsGood(const std::string& path);

// The "立即更新" label: the program update through the download engine, number -1. Nothing
// more happens here; unpacking main.7z and restarting are the engine's work.
void StartProgramUpdate();

// On the server check's thread, when the server names another engine version: fetches and
// installs up.7z (waiting for a running engine), then records the version.
void RefreshDownloadEngine();

// Resolves the server's "数据库地址" and keeps the archive as set\data.7z, written whole or not
// at all. False, with nothing written, when no archive arrived or what arrived does not hold
// a catalogue that opens (CatalogueArchiveIsGood): a waiting good archive is kept then.
bool DownloadCatalogueArchive();
// On the server check's thread: downloads the catalogue archive, offers it in the status hint
// and records the version.
void RefreshCatalogueArchive();

enum class ApplyResult {
    NoArchive, // no set\data.7z
    Applied,   // unpacked into set and deleted
    Failed,    // not applied: the old catalogue stays, the archive is set aside
};

// Replaces the catalogue from set\data.7z: closes it, unpacks beside it and moves the new
// files in only when unpacking succeeded and the unpacked TreeList.mdb opens. Otherwise the
// old catalogue stays, set\data.7z moves to set\data.refused.7z, the recorded catalogue version
// is cleared (so the next check fetches the catalogue again) and the hint says so. At start-up the
// caller opens the catalogue; otherwise it is opened again, with the tree and the latest updates,
// and "数据已更新" shown. Runs the catalogue's own work on the GUI thread whichever thread calls
// it.
ApplyResult ApplyCatalogueArchiveWithResult(bool atStartup);
// False only when there is no set\data.7z.
bool ApplyCatalogueArchive(bool atStartup);

} // namespace vm::update

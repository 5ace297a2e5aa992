#pragma once
// One run of the download engine from its command line to the notice: check the job, fetch
// the file (resuming what an earlier run left), rename it into place, tell the main window,
// and act on the two after-download settings; for the program update install main.7z.
//
// Run() works on a thread of its own; the window reads Status() and may Cancel() at any time.

#include "engine/Job.h"
#include "engine/platform/ResumableDownload.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vm::engine {

inline constexpr unsigned kDownloadFinishedMessage = 48360;

enum class Phase { Starting, Downloading, Installing, Done, Failed, Cancelled };

struct EngineStatus {
    Phase phase = Phase::Starting;
    std::string fileName; // GBK file name of the target
    std::int64_t received = 0;
    std::int64_t total = -1;
    std::string message; // GBK, what the window says under the progress bar
};

struct EngineOptions {
    std::string programFolder; // Windows path text ending in "\"; the engine's own folder
    std::string windowClass = "Velum";
    std::string programFile = "vellumark";
    FetchLimits limits;
    int programCloseWaitMs = 15000;
};

class Engine {
public:
    Engine(std::vector<std::string> gbkArguments, EngineOptions options);
    ~Engine();

    void Run();
    void Cancel();
    EngineStatus Status() const;

    // Valid once Run() has passed its checks; the settings are read from set\Start.ini then.
    bool OpenFolderAfter() const { return openFolderAfter_; }
    bool CloseAfter() const { return closeAfter_; }
    bool IsProgramUpdate() const { return programUpdate_; }
    // True once Run() has returned: the status no longer changes.
    bool Finished() const;
    std::string Target() const;
    // Opens the downloaded file's folder with the user's file manager.
    bool OpenFolder() const;

private:
    void RunSteps();
    void Fail(std::string message);
    void SetPhase(Phase phase, std::string message);
    void OnProgress(const FetchProgress& progress);
    bool PostNotice(long long number) const;

    std::vector<std::string> arguments_;
    EngineOptions options_;
    std::atomic<bool> openFolderAfter_ = false;
    std::atomic<bool> closeAfter_ = false;
    std::atomic<bool> programUpdate_ = false;

    mutable std::mutex mutex_;
    EngineStatus status_;
    std::optional<Job> job_;
    bool cancelled_ = false;
    bool finished_ = false;
    std::shared_ptr<ResumableDownload> download_;
};

// What the window says about a download that did not complete (GBK).
std::string FailureText(const FetchOutcome& outcome);

// Default-initialised options for the engine that lies in `programFolder`.
EngineOptions OptionsFor(std::string programFolder);

} // namespace vm::engine

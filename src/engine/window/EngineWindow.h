#pragma once
// The engine's small window: the file name, a progress bar, the amount and speed, a line for
// what is happening, and a cancel button that turns into a close button at the end. It polls
// the engine's status; the engine never touches a widget.

#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <utility>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vm::engine {

class Engine;

class EngineWindow : public QWidget {
public:
    explicit EngineWindow(Engine& engine);

    // Exit code for the process: 0 done, 1 failed, 2 cancelled or closed early.
    int ExitCode() const { return exitCode_; }
    // Saves a picture of the window when the run ends (diagnostics and the end-to-end test).
    void SetSnapshotFile(QString file) { snapshotFile_ = std::move(file); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Refresh();
    void OnFinished();
    void OnButton();
    // Bytes a second over the last few seconds; 0 until there is enough to tell.
    double Speed(std::int64_t received);

    Engine& engine_;
    QLabel* fileName_;
    QProgressBar* bar_;
    QLabel* amount_;
    QLabel* message_;
    QPushButton* openFolder_;
    QPushButton* button_;
    QTimer* timer_;
    bool finished_ = false;
    int exitCode_ = 2;
    QString snapshotFile_;
    QElapsedTimer clock_;
    std::deque<std::pair<qint64, std::int64_t>> samples_; // (ms, bytes)
};

// "1.5 MB" and the like, for byte counts and speeds.
QString FormatBytes(double bytes);

} // namespace vm::engine

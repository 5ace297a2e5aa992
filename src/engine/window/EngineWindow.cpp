#include "engine/window/EngineWindow.h"

#include "engine/Engine.h"
#include "platform/text/Codepage.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vm::engine {
namespace {

QString FromGbk(const std::string& gbk) {
    return QString::fromStdString(text::GbkToUtf8(gbk));
}

} // namespace

QString FormatBytes(double bytes) {
    static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    return unit == 0 ? QStringLiteral("%1 B").arg(static_cast<qint64>(bytes))
                     : QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(kUnits[unit]);
}

EngineWindow::EngineWindow(Engine& engine)
    : engine_(engine), fileName_(new QLabel(this)), bar_(new QProgressBar(this)),
      amount_(new QLabel(this)), message_(new QLabel(this)),
      openFolder_(new QPushButton(QStringLiteral("打开文件夹"), this)),
      button_(new QPushButton(QStringLiteral("取消"), this)), timer_(new QTimer(this)) {
    setWindowTitle(QStringLiteral("Vellumark 下载引擎"));
    setObjectName(QStringLiteral("EngineWindow"));
    fileName_->setObjectName(QStringLiteral("fileName"));
    bar_->setObjectName(QStringLiteral("progress"));
    amount_->setObjectName(QStringLiteral("amount"));
    message_->setObjectName(QStringLiteral("message"));
    openFolder_->setObjectName(QStringLiteral("openFolder"));
    button_->setObjectName(QStringLiteral("cancel"));

    QFont bold = fileName_->font();
    bold.setBold(true);
    fileName_->setFont(bold);
    fileName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar_->setRange(0, 1000);
    bar_->setValue(0);
    openFolder_->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(openFolder_);
    buttons->addWidget(button_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileName_);
    layout->addWidget(bar_);
    layout->addWidget(amount_);
    layout->addWidget(message_);
    layout->addStretch();
    layout->addLayout(buttons);
    setFixedSize(440, 180);

    connect(button_, &QPushButton::clicked, this, [this] { OnButton(); });
    connect(openFolder_, &QPushButton::clicked, this, [this] { engine_.OpenFolder(); });
    connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
    timer_->start(100);
    clock_.start();
    Refresh();
}

double EngineWindow::Speed(std::int64_t received) {
    const qint64 now = clock_.elapsed();
    // A resumed file starts at its old size: only bytes that arrive while we watch count.
    if (!samples_.empty() && received < samples_.back().second)
        samples_.clear();
    samples_.emplace_back(now, received);
    while (samples_.size() > 2 && now - samples_.front().first > 3000)
        samples_.pop_front();
    const qint64 span = now - samples_.front().first;
    return span < 300 ? 0
                      : 1000.0 * static_cast<double>(received - samples_.front().second) /
                            static_cast<double>(span);
}

void EngineWindow::Refresh() {
    const EngineStatus status = engine_.Status();
    fileName_->setText(status.fileName.empty() ? QStringLiteral("(未知文件)")
                                               : FromGbk(status.fileName));
    if (status.total > 0) {
        bar_->setRange(0, 1000);
        bar_->setValue(
            static_cast<int>(1000 * std::min(status.received, status.total) / status.total));
    } else if (status.phase == Phase::Downloading || status.phase == Phase::Installing) {
        bar_->setRange(0, 0); // size unknown: a busy bar
    }
    QString amount = FormatBytes(static_cast<double>(status.received));
    if (status.total >= 0)
        amount += QStringLiteral(" / ") + FormatBytes(static_cast<double>(status.total));
    const double speed = Speed(status.received);
    if (status.phase == Phase::Downloading && speed > 0) {
        amount += QStringLiteral("    ") + FormatBytes(speed) + QStringLiteral("/s");
        if (status.total > status.received) {
            const auto left =
                static_cast<qint64>(static_cast<double>(status.total - status.received) / speed);
            amount += QStringLiteral("    剩余 %1 秒").arg(left + 1);
        }
    }
    amount_->setText(amount);
    message_->setText(FromGbk(status.message));
    message_->setStyleSheet(status.phase == Phase::Failed ? QStringLiteral("color: #b00020;")
                                                          : QString());
    if (engine_.Finished() && !finished_)
        OnFinished();
}

void EngineWindow::OnFinished() {
    finished_ = true;
    timer_->stop();
    const EngineStatus status = engine_.Status();
    exitCode_ = status.phase == Phase::Done ? 0 : status.phase == Phase::Failed ? 1 : 2;
    if (status.phase == Phase::Done) {
        bar_->setRange(0, 1000);
        bar_->setValue(1000);
    } else if (bar_->maximum() == 0) {
        bar_->setRange(0, 1000);
    }
    button_->setText(QStringLiteral("关闭"));
    openFolder_->setVisible(status.phase == Phase::Done && !engine_.IsProgramUpdate());
    if (status.phase == Phase::Failed)
        qWarning("up.exe: %s", qUtf8Printable(FromGbk(status.message)));
    if (!snapshotFile_.isEmpty())
        grab().save(snapshotFile_);
    // The update has started the new program; a finished download closes when the user asked
    // for it. A failure always stays on screen to be read.
    if (status.phase == Phase::Done && (engine_.IsProgramUpdate() || engine_.CloseAfter()))
        close();
}

void EngineWindow::OnButton() {
    if (finished_) {
        close();
        return;
    }
    button_->setEnabled(false);
    engine_.Cancel();
}

void EngineWindow::closeEvent(QCloseEvent* event) {
    if (!finished_) {
        // Closing a running download cancels it; the window goes once the engine has cleaned
        // up. The program update cannot be stopped half-way.
        event->ignore();
        if (engine_.Status().phase != Phase::Installing) {
            button_->setEnabled(false);
            engine_.Cancel();
        }
        QTimer::singleShot(50, this, [this] {
            Refresh();
            if (finished_)
                close();
        });
        return;
    }
    event->accept();
}

} // namespace vm::engine

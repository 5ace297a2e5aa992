#pragma once
// Starts the Qt backend once per test binary and gives each test a fresh model.

#include "platform/gui/Gui.h"
#include "platform/gui/qt/QtAccess.h"
#include "platform/gui/qt/QtBackend.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdlib>

namespace vm::gui::testing {

inline void StartQt() {
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "gui_qt_test";
    static char* argv[] = {name, nullptr};
    UseQt(argc, argv);
}

// A picture of one colour, encoded in `format` ("PNG", "BMP", "JPG").
inline Bytes Picture(int width, int height, QColor colour, const char* format = "PNG") {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Dispatches until `done` holds or `ms` milliseconds pass.
template <typename Done> bool WaitUntil(Done done, int ms = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        Application::instance().processPending(10);
    }
    return true;
}

inline std::string G(std::u8string_view utf8) {
    return text::Gbk(utf8);
}

class QtTest : public ::testing::Test {
protected:
    void SetUp() override { StartQt(); }
    void TearDown() override {
        // Unloads what the test left, so widgets never pile up across tests.
        app.endProgram(0);
        app.processPending();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Application& app = Application::instance();
};

} // namespace vm::gui::testing

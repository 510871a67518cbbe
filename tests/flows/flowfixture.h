// The real main window on the virtual bus, in a fresh temporary working directory; buttons are
// pressed as the operator would. Robot bus positions: 1 board, 2..5 wheel base, 6 board, 7..11 arm.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "controller/controllerlayouts.h"
#include "gui.h"
#include "qtfiles.h"
#include "qtprint.h"
#include "simbus.h"

class FlowTest : public ::testing::Test
{
protected:
    FlowTest();
    ~FlowTest() override;

    // Plugs a new window onto `bus`; a window and bus of an earlier call are dropped first.
    void startBus(sim::ControllerBus bus);
    // Unplugs the window from its bus and plugs it onto another one; the window keeps its state.
    void replaceBus(sim::ControllerBus bus);

    GUI& window() { return *window_; }
    void useInterface(const QString& name);
    // Presses `button` and, when that started a flow, runs the window's event loop until the flow
    // has ended (its boxes answered by the test's BoxAnswerer).
    void press(const char* button);
    // Presses `button` and returns at once.
    void click(const char* button) { widget<QPushButton>(button)->click(); }
    // Runs the event loop until the window's flow has ended; false when it did not end within a
    // generous safety limit.
    bool waitForFlow();
    QString output() { return widget<QLabel>("labelAusgabe")->text(); }
    QProgressBar* progressBar() { return widget<QProgressBar>("progressBar"); }
    bool enabled(const char* button) { return widget<QPushButton>(button)->isEnabled(); }
    // Success when all three buttons can be pressed again.
    ::testing::AssertionResult allButtonsEnabled();

    // Entries of the working directory, symbolic links included.
    QStringList workFiles() const;
    QString workPath(const QString& name) const { return dirs_.work.filePath(name); }
    // Where the backups go: a data home of the test's own.
    QString dataPath(const QString& name) const { return dirs_.data.filePath(name); }

    sim::MotorController& axis(int position) { return bus_->controller(size_t(position)); }
    std::vector<int> controllerPositions() const { return bus_->controllerPositions(); }
    // From now on notes the bus position of every controller that gets a message in BOOT.
    void logBootTransfers();
    const std::vector<int>& bootOrder() const { return *bootLog_; }
    void powerCycleControllers();
    // The image the program carries for the model of the controller at `position`.
    std::vector<uint8_t> embeddedImageFor(int position);
    // The controllers at `written` received their embedded image, all others nothing.
    void expectImagesOnlyAt(const std::vector<int>& written);

    SimBus& bus() { return *bus_; }

private:
    template <typename W>
    W* widget(const char* name)
    {
        return window_->findChild<W*>(QString::fromLatin1(name));
    }

    TestDirs dirs_;
    std::unique_ptr<SimBus> bus_;
    std::unique_ptr<GUI> window_;
    std::shared_ptr<std::vector<int>> bootLog_ = std::make_shared<std::vector<int>>();
};

#include "flowfixture.h"

#include <QComboBox>
#include <QDir>
#include <QSignalSpy>

#include <algorithm>

#include "core/layouts.h"

namespace {

const int kFlowLimitMs = 300000;

// Hands the bootstrap mailbox's messages on to the controller's FoE server and notes which
// controller got them, so that a test sees the order in which the axes were written.
class BootLog : public sim::MailboxHandler
{
public:
    BootLog(sim::FoeServer& foe, int position, std::shared_ptr<std::vector<int>> log)
        : foe_(foe)
        , position_(position)
        , log_(std::move(log))
    {}

    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        if (log_->empty() || log_->back() != position_)
            log_->push_back(position_);
        if (auto reply = foe_.handle(message))
            out.post(std::move(*reply));
    }

private:
    sim::FoeServer& foe_;
    int position_;
    std::shared_ptr<std::vector<int>> log_;
};

}

FlowTest::FlowTest() = default;

FlowTest::~FlowTest()
{
    window_.reset();
    bus_.reset();
}

void FlowTest::startBus(sim::ControllerBus bus)
{
    // Only one virtual bus may be plugged in at a time.
    window_.reset();
    replaceBus(std::move(bus));
    window_ = std::make_unique<GUI>();
    useInterface(QString::fromLatin1(SimBus::Primary));
}

void FlowTest::replaceBus(sim::ControllerBus bus)
{
    bus_.reset();
    bus_ = std::make_unique<SimBus>(std::move(bus));
}

void FlowTest::useInterface(const QString& name)
{
    auto* combo = window_->findChild<QComboBox*>(QStringLiteral("comboBoxETH"));
    ASSERT_NE(nullptr, combo);
    combo->clear();
    combo->addItem(name);
}

void FlowTest::press(const char* button)
{
    QSignalSpy ended(window_.get(), &GUI::flowFinished);
    click(button);
    if (window_->isBusy() && ended.isEmpty()) {
        // The limit only keeps a broken flow from hanging the suite; the signal ends the wait.
        EXPECT_TRUE(ended.wait(kFlowLimitMs)) << button << " did not end";
    }
}

bool FlowTest::waitForFlow()
{
    if (!window_->isBusy())
        return true;
    QSignalSpy ended(window_.get(), &GUI::flowFinished);
    return ended.wait(kFlowLimitMs);
}

::testing::AssertionResult FlowTest::allButtonsEnabled()
{
    for (const char* button : {"pbCheck", "pbWriteFirmware", "pbWriteParameters"})
        if (!enabled(button))
            return ::testing::AssertionFailure() << button << " is disabled";
    return ::testing::AssertionSuccess();
}

QStringList FlowTest::workFiles() const
{
    return QDir(dirs_.work.path())
        .entryList(
            QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void FlowTest::logBootTransfers()
{
    for (int position : controllerPositions())
        axis(position).setBootHandler(
            std::make_shared<BootLog>(axis(position).foe(), position, bootLog_));
}

void FlowTest::powerCycleControllers()
{
    for (int position : controllerPositions())
        axis(position).powerCycle();
}

std::vector<uint8_t> FlowTest::embeddedImageFor(int position)
{
    const QByteArray bytes = fileBytes(
        QStringLiteral(":/res/") + QString::fromStdString(axis(position).info().firmwareFile));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void FlowTest::expectImagesOnlyAt(const std::vector<int>& written)
{
    for (int position : controllerPositions()) {
        if (std::count(written.begin(), written.end(), position) > 0)
            EXPECT_EQ(embeddedImageFor(position), axis(position).receivedImage()) << position;
        else
            EXPECT_TRUE(axis(position).receivedImage().empty()) << position;
    }
}

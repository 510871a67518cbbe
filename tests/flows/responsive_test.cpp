// The window while the bus is worked: its timer keeps firing through a whole firmware update, the
// progress only grows, and closing it mid-download completes the axis and leaves no file. The bus
// runs at the pace of the window's event loop (each timer tick lets the virtual clock run on), so
// a window whose event loop stood still would hold the bus up, which the link notices.
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "boxanswerer.h"
#include "eclink.h"
#include "flowfixture.h"

namespace {

// Virtual time the bus may run ahead per tick of the window's timer.
const std::uint64_t kQuantumUs = 20000;
const std::uint64_t kLargestGapUs = 100000;
const std::uint32_t kFrameUs = 1000;
// Real time the bus waits for a tick before it calls the window stuck; a safety net only.
const auto kStuckAfter = std::chrono::seconds(20);

// Wraps the link the test's SimBus installed: every frame the master sends waits until the virtual
// clock is within what the window's ticks allowed.
class PacedLink
{
public:
    explicit PacedLink(SimBus& bus)
        : bus_(bus)
        , inner_(*ec_link())
    {
        active_ = this;
        ec_linkt paced = inner_;
        paced.send = &PacedLink::send;
        ec_setlink(&paced);
    }
    ~PacedLink()
    {
        ec_setlink(&inner_);
        active_ = nullptr;
    }

    // On the GUI thread, at every timer tick: notes how far the bus ran since the last tick and
    // lets it run one quantum further.
    void tick()
    {
        const std::uint64_t now = published_.load();
        if (ticked_)
            largestGap_ = std::max(largestGap_, now - lastTick_);
        ticked_ = true;
        lastTick_ = now;
        std::lock_guard<std::mutex> lock(mutex_);
        allowed_ = now + kQuantumUs;
        allowance_.notify_all();
    }

    std::uint64_t largestGapUs() const { return largestGap_; }
    // Virtual time at the bus's last frame.
    std::uint64_t nowUs() const { return published_.load(); }
    bool stuck() const { return stuck_; }
    bool ranOnGuiThread() const { return ranOnGuiThread_; }

private:
    void pace()
    {
        // Only the job's thread moves the virtual clock while the bus is worked.
        const std::uint64_t now = bus_.clock().nowUs();
        published_.store(now);
        if (QThread::currentThread() == qApp->thread()) {
            ranOnGuiThread_ = true;
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (stuck_)
            return;
        if (!allowance_.wait_for(lock, kStuckAfter, [&] { return now <= allowed_; }))
            stuck_ = true;
    }

    // The one link installed at a time; the other calls go to the inner link unchanged.
    static int send(void* ctx, int handle, const void* frame, int len)
    {
        active_->pace();
        return active_->inner_.send(ctx, handle, frame, len);
    }

    static inline PacedLink* active_ = nullptr;
    SimBus& bus_;
    const ec_linkt inner_;
    std::atomic<std::uint64_t> published_{0};
    std::mutex mutex_;
    std::condition_variable allowance_;
    std::uint64_t allowed_ = kQuantumUs;
    std::atomic_bool stuck_{false};
    std::atomic_bool ranOnGuiThread_{false};
    // GUI thread only.
    bool ticked_ = false;
    std::uint64_t lastTick_ = 0;
    std::uint64_t largestGap_ = 0;
};

// Stands in front of a controller's FoE server in BOOT: at the first message it has the GUI thread
// run `action` and holds the download until the action is done, so the action surely happens while
// that axis is being written.
class HoldAtFirstMessage : public sim::MailboxHandler
{
public:
    HoldAtFirstMessage(sim::FoeServer& foe, std::function<void()> action)
        : foe_(foe)
        , action_(std::move(action))
    {}

    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        if (!held_) {
            held_ = true;
            QMetaObject::invokeMethod(
                qApp,
                [this] {
                    action_();
                    std::lock_guard<std::mutex> lock(mutex_);
                    released_ = true;
                    release_.notify_all();
                },
                Qt::QueuedConnection);
            std::unique_lock<std::mutex> lock(mutex_);
            release_.wait_for(lock, kStuckAfter, [this] { return released_; });
        }
        if (auto reply = foe_.handle(message))
            out.post(std::move(*reply));
    }

private:
    sim::FoeServer& foe_;
    std::function<void()> action_;
    bool held_ = false;
    std::mutex mutex_;
    std::condition_variable release_;
    bool released_ = false;
};

using Responsive = FlowTest;

}

TEST_F(Responsive, TimerKeepsFiringAndProgressOnlyGrowsThroughAWholeUpdate)
{
    startBus(sim::robotBus());
    // Every frame takes a millisecond on this bus: one axis alone takes longer than the largest
    // gap allowed, so a window that stood still for an axis could not pass.
    bus().link().timing().frameUs = kFrameUs;
    PacedLink paced(bus());
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&paced] { paced.tick(); });
    std::vector<int> values;
    std::uint64_t firstWrite = 0;
    std::uint64_t lastWrite = 0;
    QObject::connect(progressBar(), &QProgressBar::valueChanged, [&](int v) {
        values.push_back(v);
        (firstWrite == 0 ? firstWrite : lastWrite) = paced.nowUs();
    });
    timer.start();

    BoxAnswerer boxes({QMessageBox::Yes, QMessageBox::Ok});
    press("pbWriteFirmware");
    timer.stop();

    ASSERT_EQ((QStringList{"Write firmware?", "Firmware"}), boxes.titles());
    EXPECT_FALSE(paced.ranOnGuiThread()) << "the bus was worked on the GUI thread";
    EXPECT_FALSE(paced.stuck()) << "the window's event loop stood still";
    EXPECT_LE(paced.largestGapUs(), kLargestGapUs);
    const std::uint64_t axisUs = (lastWrite - firstWrite) / 9;
    EXPECT_GT(axisUs, kLargestGapUs);
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(1000, values.back());
    EXPECT_EQ(1000, progressBar()->maximum());
}

TEST_F(Responsive, ClosingMidDownloadCompletesTheAxisAndLeavesNoFile)
{
    startBus(sim::robotBus());
    window().show();
    // Arm axis 2 sits at bus position 8; the window is closed while its download runs.
    axis(8).setBootHandler(
        std::make_shared<HoldAtFirstMessage>(axis(8).foe(), [this] { window().close(); }));

    BoxAnswerer boxes({QMessageBox::Yes, QMessageBox::Yes});
    press("pbWriteFirmware");

    ASSERT_EQ((QStringList{"Write firmware?", "Quit?"}), boxes.titles());
    EXPECT_EQ(QStringLiteral("Firmware is being written to arm axis 2.\nQuit once this axis is "
                             "written? The axes after it keep their old firmware."),
        boxes.seen()[1].text);
    EXPECT_FALSE(window().isVisible());
    expectImagesOnlyAt({7, 8});
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_EQ(
        QStringLiteral("Stopped as asked after arm axis 2.\nUpdated: arm axes 1 to 2.\n"
                       "Not updated, still on the old firmware: arm axes 3 to 5, platform axes "
                       "1 to 4.\n"
                       "Power-cycle the robot to start the new firmware on the updated axes."),
        output());
    EXPECT_EQ(0, bus().openHandles());
}

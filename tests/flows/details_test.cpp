// "Details…" in the window: offered only after a job failed on the bus, it runs the diagnosis of
// that bus as a job and shows its report, which names the cable the failed job's frames were
// damaged on.
#include "boxanswerer.h"
#include "flowfixture.h"

namespace {

class Details : public FlowTest
{
protected:
    bool offered() { return !window().findChild<QPushButton*>("pbDetails")->isHidden(); }
};

}

TEST_F(Details, OfferedAfterAFailureOnTheBusAndShowsWhichCable)
{
    startBus(sim::robotBus());
    // A cable into slave 7 that damages every frame: the check fails on the bus.
    bus().chain().setCrcErrors(7, 0, 1000);
    {
        BoxAnswerer boxes({});
        press("pbCheck");
        EXPECT_TRUE(boxes.seen().empty());
    }
    EXPECT_TRUE(allButtonsEnabled());
    ASSERT_TRUE(offered()) << output().toStdString();
    EXPECT_EQ("Details…", window().findChild<QPushButton*>("pbDetails")->text().toStdString());

    // Now it damages one frame in twenty: the diagnosis reads what the check left, then measures.
    bus().chain().setCrcErrors(7, 0, 50);
    BoxAnswerer boxes({QMessageBox::Ok});
    press("pbDetails");
    ASSERT_EQ(1u, boxes.seen().size());
    EXPECT_EQ("Details", boxes.seen()[0].title.toStdString());
    const std::string report = boxes.seen()[0].text.toStdString();
    EXPECT_NE(std::string::npos, report.find("slave 6 port 1 - slave 7 port 0")) << report;
    EXPECT_NE(
        std::string::npos, report.find("the cable between slave 6 and slave 7, or its connectors"))
        << report;
    EXPECT_NE(std::string::npos, report.find("What the last job left")) << report;
    EXPECT_EQ("The bus loses frames; the report says where.", output().toStdString());
    EXPECT_FALSE(offered());
    EXPECT_TRUE(allButtonsEnabled());
}

TEST_F(Details, NotOfferedAfterSuccessOrAFailureBeforeTheBus)
{
    startBus(sim::robotBus());
    {
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");
    }
    EXPECT_FALSE(offered());

    // No such interface: nothing reached the bus, so its cabling cannot be the cause.
    useInterface(QStringLiteral("nosuch0"));
    press("pbCheck");
    EXPECT_NE(-1, output().indexOf("nosuch0")) << output().toStdString();
    EXPECT_FALSE(offered());
}

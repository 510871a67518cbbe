// The real main window on the offscreen platform, for what only a person would notice (the flows
// press its buttons), and which host interfaces it offers, decided on plain lists.
#include <QComboBox>

#include <gtest/gtest.h>

#include "gui.h"

namespace {

const QNetworkInterface::InterfaceFlags upRunning
    = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;

QStringList warnings;

void noteWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        warnings.append(message);
}

}

// Built without warnings, titled with the version; every widget inside the window and apart from
// the others; the tab order; and the host's interfaces offered by the list rules.
TEST(Window, TitleLayoutFocusOrderAndInterfaces)
{
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(noteWarning);
    GUI window;
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList());
    EXPECT_EQ(window.windowTitle(), QString("Zuvian Firmwareupdate 1.48"));

    window.show();
    const QList<QWidget*> children
        = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    EXPECT_EQ(children.size(), 13);
    for (QWidget* widget : children) {
        SCOPED_TRACE(widget->objectName().toStdString());
        // Where exactly is the form's business; what counts is that nothing is cut or hidden.
        EXPECT_TRUE(window.rect().contains(widget->geometry()));
        for (QWidget* other : children) {
            if (other != widget) {
                EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
                    << other->objectName().toStdString();
            }
        }
    }

    QWidget* start = window.findChild<QWidget*>("pbWriteFirmware");
    ASSERT_NE(start, nullptr);
    QStringList order;
    QWidget* widget = start;
    do {
        if (widget->parentWidget() == &window && (widget->focusPolicy() & Qt::TabFocus))
            order.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start && order.size() < 20);
    EXPECT_EQ(order,
        (QStringList{"pbWriteFirmware", "pbWriteParameters", "pbCheck", "comboBoxETH", "pbDetails",
            "comboBoxTester", "pbSaveLog"}));

    auto* combo = window.findChild<QComboBox*>("comboBoxETH");
    ASSERT_NE(combo, nullptr);
    QList<HostInterface> host;
    GUI::gatherHostInterfaces(host);
    const QStringList expected = GUI::selectableInterfaces(host);
    QStringList offered;
    for (int i = 0; i < combo->count(); ++i)
        offered.append(combo->itemText(i));
    EXPECT_EQ(offered, expected);
    EXPECT_EQ(combo->currentText(), expected.value(0));
}

TEST(InterfaceList, OfferedByTheListRules)
{
    const struct
    {
        const char* rule;
        QList<HostInterface> host;
        QStringList offered;
    } cases[] = {
        {"loopback is dropped",
            {{"lo", upRunning | QNetworkInterface::IsLoopBack, 2}, {"eth0", upRunning, 1}},
            {"eth0"}},
        {"an interface with two address entries is offered once", {{"enp3s0", upRunning, 2}},
            {"enp3s0"}},
        {"running alone decides, an address is needed",
            {{"eth0", upRunning, 0}, {"eth1", QNetworkInterface::IsUp, 1},
                {"eth2", QNetworkInterface::IsRunning, 1},
                {"eth3", QNetworkInterface::InterfaceFlags(), 1}},
            {"eth2"}},
        {"host order kept, first occurrence wins",
            {{"veth1", upRunning, 1}, {"eth0", upRunning, 1}, {"veth1", upRunning, 1},
                {"lo", upRunning, 1}, {"wlan0", upRunning, 1}},
            {"veth1", "eth0", "wlan0"}},
        {"nothing to offer", {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GUI::selectableInterfaces(c.host), c.offered) << c.rule;
}

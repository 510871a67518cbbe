// The HTML parameter report of the axis service: the loaded set beside the controllers' values,
// and the check whether any value of a part differs from its target.
#include "EtherCatWrapper.h"

#include <QStringList>

#include "RobotLayout.h"

namespace {

const QString kTableStart = QStringLiteral("<table width=\"600\">");
const QString kTableEnd = QStringLiteral("</table>");
const QString kRow = QStringLiteral("<tr>%1</tr>");
const QString kCell = QStringLiteral("<td %1>%2</td>");
const QString kHeaderCell = QStringLiteral("<th %1>%2</th>");
const QString kColumns[] = {
    QStringLiteral("width=\"100px\""),
    QStringLiteral("width=\"250px\""),
    QStringLiteral("width=\"50px\""),
    QStringLiteral("width=\"50px\""),
    QStringLiteral("width=\"auto\""),
};
const QString kHighlighted
    = QStringLiteral("width=\"50px\" style=\"background-color: rgb(255, 219, 155)\"");
using RobotLayout::fewestArmBus;
// A wheel-base count above this cannot be a real wheel base.
const int maxPlatformSlaves = RobotLayout::maxSlaves;

QString cells(const QString& cell, const QString (&texts)[5], bool highlight)
{
    QString row;
    for (int i = 0; i < 5; ++i) {
        const bool value = i == 2 || i == 3;
        row += cell.arg(value && highlight ? kHighlighted : kColumns[i], texts[i]);
    }
    return kRow.arg(row);
}

}

QString EtherCatWrapper::htmlError(const QString& message)
{
    if (message.isEmpty())
        return QString();
    return QStringLiteral("<div style=\"color:red;font-size:10pt;font-weight:bold\">") + message
        + QStringLiteral("</div>");
}

QString EtherCatWrapper::buildHtmlRow(const QString& no, const QString& desc,
    const QString& newValue, const QString& currentValue, const QString& note)
{
    const QString texts[5] = {no, desc, newValue, currentValue, note};
    return cells(kCell, texts, newValue != currentValue);
}

QString EtherCatWrapper::buildHtmlRowHeader(
    const QString& a, const QString& b, const QString& c, const QString& d, const QString& e)
{
    const QString texts[5] = {a, b, c, d, e};
    return cells(kHeaderCell, texts, false);
}

QString EtherCatWrapper::buildHtmlColSpan(const QString& title, int span)
{
    const QString wrapped = QStringLiteral("<div style=\"background-color:grey;color:white;"
                                           "font-size:12pt;font-weight:bold;width:100px\">")
        + title + QStringLiteral("</div>");
    return kRow.arg(QStringLiteral("<td %1 width=\"100px\">%2</td width=\"250px\"><td "
                                   "width=\"50px\"></td><td width=\"50px\"></td><td "
                                   "width=\"50px\"></td><td></td>")
                        .arg(QStringLiteral("colspan=") + QString::number(span), wrapped));
}

QString EtherCatWrapper::GetEtherCatParametersInHtml() const
{
    if (configParameters.isEmpty())
        return htmlError(
            QStringLiteral("Fehler: Keine Parameter definiert oder Device nicht verfügbar!"));

    QStringList lines;
    lines.append(QStringLiteral("<b><u>Number of slaves:</u></b> ") + QString::number(allSlavesCnt)
        + QStringLiteral("<br>"));
    if (platform) {
        if (platformslavesCnt < 1 || platformslavesCnt > maxPlatformSlaves)
            return htmlError(QStringLiteral("No slaves found!"));
        lines.append(QStringLiteral("<b>Number of slaves platform:</b> ")
            + QString::number(platformslavesCnt) + QStringLiteral("<br>"));
    }
    if (arm1) {
        if (armslavesCnt == 0) {
            lines.append(htmlError(QStringLiteral("Keine Slaves gefunden!")));
            return lines.join(QString());
        }
        QString armLine = QStringLiteral("<b>Anzahl Slaves Arm1:</b> ")
            + QString::number(armslavesCnt) + QStringLiteral("<br>")
            + QStringLiteral("Bezeichnung der Slave-Firmware: ") + GetArmSlaveName().toHtmlEscaped()
            + QStringLiteral("<br>");
        if (allSlavesCnt <= fewestArmBus)
            armLine += htmlError(QStringLiteral("Achtung die Anzahl der Slaves entspricht nicht "
                                                "der für den Arm definierten Slaves!"))
                + QStringLiteral("<br>");
        lines.append(armLine);
    }

    lines.append(buildHtmlRowHeader(QStringLiteral("No. "), QStringLiteral("Description"),
        QStringLiteral("New Value"), QStringLiteral("Current Value"), QString()));
    QString previousAxis;
    for (auto it = configParameters.cbegin(); it != configParameters.cend(); ++it) {
        const QString device = it.key().section(QLatin1Char('_'), 0, 0);
        const QString axis = it.key().section(QLatin1Char('_'), 1, 1);
        if (axis != previousAxis) {
            previousAxis = axis;
            lines.append(buildHtmlColSpan(
                device == QLatin1String("Platform") ? QStringLiteral("Axis 1 - 4") : axis, 5));
        }
        const EtherCatParameter& entry = it.value();
        // Description and message come from a file and from the bus: as text, never as markup.
        lines.append(buildHtmlRow(QString::number(entry.ParameterType),
            entry.Description.toHtmlEscaped(), QString::number(entry.ParameterValue),
            QString::number(entry.CurrentValue), htmlError(entry.errorMessage.toHtmlEscaped())));
    }
    return kTableStart + lines.join(QString()) + kTableEnd;
}

bool EtherCatWrapper::CompareParameters(QString setup) const
{
    for (auto it = configParameters.cbegin(); it != configParameters.cend(); ++it) {
        if (it.key().section(QLatin1Char('_'), 0, 0) == setup
            && it.value().CurrentValue != it.value().ParameterValue)
            return true;
    }
    return false;
}

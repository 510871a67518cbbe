// Files for the Qt test programs: whole contents, a written file, and one section of a parameter
// file read with the DOM alone (not with the code under test). Header-only, as qtprint.h.
#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QFile>
#include <QMap>
#include <QString>

#include <gtest/gtest.h>

// The file's bytes; empty when it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void putFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    EXPECT_EQ(content.size(), file.write(content)) << path.toStdString();
}

// Type to value of the first section named `name` of a parameter file.
inline QMap<int, qint64> parameterSection(const QString& file, const QString& name)
{
    QDomDocument doc;
    if (!doc.setContent(fileBytes(file)))
        return {};
    QMap<int, qint64> values;
    const QDomElement section = doc.elementsByTagName(name).at(0).toElement();
    for (QDomElement e = section.firstChildElement(QStringLiteral("Parameter")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("Parameter")))
        values.insert(e.attribute(QStringLiteral("Type")).toInt(),
                      e.attribute(QStringLiteral("Value")).toLongLong());
    return values;
}

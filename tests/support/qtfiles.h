// Files for the Qt test programs: whole contents, a written file, one section of a parameter file
// read with the DOM alone (not with the code under test), and a test's own directories.
// Header-only, as qtprint.h.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <optional>

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

// For its lifetime, a fresh working directory (the jobs place image files there) and a fresh data
// home (the backups and the service records go there); both are removed afterwards and the earlier
// ones restored.
class TestDirs
{
public:
    TestDirs()
    {
        EXPECT_TRUE(work.isValid() && data.isValid());
        QDir::setCurrent(work.path());
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        // The tester registry starts empty for each test.
        qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toLocal8Bit());
    }
    ~TestDirs()
    {
        QDir::setCurrent(previousWork_);
        restore("XDG_DATA_HOME", previousData_);
        restore("XDG_CONFIG_HOME", previousConfig_);
    }
    TestDirs(const TestDirs&) = delete;
    TestDirs& operator=(const TestDirs&) = delete;

    QTemporaryDir work;
    QTemporaryDir data;

    // The service records the jobs left in the data home.
    QString records() const { return data.filePath(QStringLiteral("zuvian/records")); }

private:
    const QString previousWork_ = QDir::currentPath();
    static QByteArray previous(const char* name)
    {
        return qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray();
    }
    static void restore(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    const QByteArray previousData_ = previous("XDG_DATA_HOME");
    const QByteArray previousConfig_ = previous("XDG_CONFIG_HOME");
};

// For a whole test program, a data home and a runtime directory of its own: every job it runs
// leaves a service record, and none may reach the home of whoever runs the tests. A program that
// does not start from qtapp_main.cpp registers it once:
//
//   const auto* const homes = ::testing::AddGlobalTestEnvironment(new PrivateHomes);
class PrivateHomes : public ::testing::Environment
{
public:
    void SetUp() override
    {
        dir_.emplace();
        ASSERT_TRUE(dir_->isValid());
        qputenv("XDG_DATA_HOME", dir_->filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir_->filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", dir_->path().toLocal8Bit());
    }
    void TearDown() override { dir_.reset(); }

private:
    std::optional<QTemporaryDir> dir_;
};

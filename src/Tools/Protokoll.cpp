// The pre-service testing log: creation, typed blocks, replacement and removal of its file.
//
// The file is UTF-8 throughout: what a block holds is written without loss, whether or not it
// passed through localizeHtml. (It was once read and written as Latin-1, which kept only what
// localizeHtml had turned into bytes and stored text given to replaceContent as question marks
// and lone Latin-1 bytes.)
#include "Protokoll.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <QUuid>
#include <QtDebug>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FreshFile.h"

const QString Protokoll::HTML_HEADER = QStringLiteral(
    "<!DOCTYPE html PUBLIC '-//W3C//DTD HTML 4.0 Transitional//EN'><HTML><HEAD><TITLE> ");
const QString Protokoll::HTML_HEADER1 = QStringLiteral("</TITLE></HEAD><BODY>");
const QString Protokoll::HTML_FOOTER = QStringLiteral("</BODY></HTML> ");

namespace {

const QString blockSeparator = QStringLiteral("<!--Block-->\n");
const QString title = QStringLiteral("Pre-service testing log Zuvian");

QString startMarker(const QString& type)
{
    return QStringLiteral("<!-- Start ") + type + QStringLiteral(" -->");
}

QString endMarker(const QString& type)
{
    return QStringLiteral("<!-- Ende ") + type + QStringLiteral(" -->");
}

// Opens the log at `path` for `mode` without following a symbolic link, and only when it is a
// regular file that has no other name: a FIFO put in its place cannot block the reader, and a
// hard link to some other file cannot have that file overwritten. Returns true when `file` is
// open.
bool openLog(QFile& file, const QString& path, int flags, QIODevice::OpenMode mode)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1
        || !file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

}

Protokoll::Protokoll(QObject* parent)
    : QObject(parent)
{}

Protokoll::~Protokoll()
{
    DeleteTempFile();
}

QString Protokoll::generateTempFileName()
{
    return QStringLiteral("zuvian") + QUuid::createUuid().toString();
}

QString Protokoll::directory()
{
    // The log lives as long as the program: the runtime directory is meant for that. The
    // program's own directory, where it once was, is not the user's to write when the program is
    // installed, and as root the log would lie among the system's programs.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/zuvian");
}

QString Protokoll::CreateTempFile(QString fileExtension)
{
    const QString dir = directory();
    const QString tmpFileName = dir + QLatin1Char('/') + generateTempFileName() + fileExtension;
    if (!QDir().mkpath(dir)) {
        qDebug("Could not create file %s", qPrintable(tmpFileName));
        return QString();
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QString text = HTML_HEADER + QLatin1Char('\n') + title + QLatin1Char('\n') + HTML_HEADER1
        + QLatin1Char('\n') + QStringLiteral("<b><h2>") + title + QStringLiteral("</h2></b>\n")
        + QStringLiteral("Start of logging: ") + now.date().toString(QStringLiteral("MM.dd.yyyy"))
        + QLatin1Char(' ') + now.time().toString(QStringLiteral("hh:mm:ss"))
        + QStringLiteral("<br>\n") + blockSeparator + HTML_FOOTER;

    // Exclusive creation: a file or link that already stands under the name makes this fail
    // instead of being removed and replaced by whatever it points to.
    QString error;
    if (!FreshFile::create(tmpFileName, text.toUtf8(), &error)) {
        qDebug("Could not create file %s", qPrintable(tmpFileName));
        return QString();
    }
    currentFilename = tmpFileName;
    return tmpFileName;
}

QUrl Protokoll::WriteHtml(QString htmlContent, QString contentType)
{
    QString content = localizeHtml(htmlContent);
    QString text = readFromFile();
    const QUrl url(currentFilename);
    if (text.isEmpty())
        return url;

    content = startMarker(contentType) + content + endMarker(contentType) + blockSeparator;
    // Only the footer that closes the document goes: a block whose own HTML holds the footer's
    // text keeps it.
    if (text.endsWith(HTML_FOOTER))
        text.chop(HTML_FOOTER.size());
    writeToFile(text + content + HTML_FOOTER);
    return url;
}

QUrl Protokoll::replaceContent(
    QString contentToFind, QString contentToReplace, QString sContentType)
{
    Q_UNUSED(contentToFind);
    QString text = readFromFile();
    const QUrl url(currentFilename);
    if (text.isEmpty())
        return url;

    const QString lastContent = getLastContent(text, blockSeparator, endMarker(sContentType));
    // No block of that type: replacing an empty text would splice the new block in everywhere.
    if (lastContent.isEmpty())
        return url;
    // The block found is the first place its text occurs, since no earlier part holds the end
    // marker. Only that block is replaced; a later block with the same text stays.
    const qsizetype at = text.indexOf(lastContent);
    const QString block = startMarker(sContentType) + contentToReplace + endMarker(sContentType);
    text.replace(at, lastContent.size(), block);
    writeToFile(text);
    return url;
}

bool Protokoll::hasContent(QString searchContent)
{
    // An unreadable log holds nothing, not even the empty text.
    const QString text = readFromFile();
    return !text.isEmpty() && text.contains(searchContent);
}

QString Protokoll::getCurrentFileName()
{
    return currentFilename;
}

void Protokoll::DeleteTempFile()
{
    if (currentFilename.isEmpty())
        return;
    // unlink: a link standing in the file's place is removed itself.
    QFile::remove(currentFilename);
}

bool Protokoll::fileCheck(QFile& file)
{
    if (!file.exists()) {
        qDebug("Could not find file %s", qPrintable(currentFilename));
        return false;
    }
    if (!openLog(file, file.fileName(), O_RDWR, QIODevice::ReadWrite)) {
        qDebug("Could not create file %s", qPrintable(currentFilename));
        return false;
    }
    file.close();
    return true;
}

QString Protokoll::readFromFile()
{
    QFile file(currentFilename);
    if (!fileCheck(file))
        return QString();
    QFile reader;
    if (!openLog(reader, currentFilename, O_RDONLY, QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(reader.readAll());
    reader.close();
    return text;
}

void Protokoll::writeToFile(QString content)
{
    QFile file;
    if (!openLog(file, currentFilename, O_WRONLY, QIODevice::WriteOnly))
        return;
    // Truncated only once the descriptor is known to be our regular file.
    (void)file.resize(0);
    (void)file.write(content.toUtf8());
    file.close();
}

QString Protokoll::getLastContent(
    QString contentAll, QString contentSeperator, QString lastSearchContent)
{
    const QStringList parts = contentAll.split(contentSeperator, Qt::KeepEmptyParts);
    for (const QString& part : parts) {
        if (part.contains(lastSearchContent))
            return part;
    }
    return QString();
}

QString Protokoll::localizeHtml(QString sHtml)
{
    static const struct
    {
        char16_t letter;
        const char* entity;
    } letters[] = {
        {u'\u00FC', "&uuml;"},
        {u'\u00E4', "&auml;"},
        {u'\u00F6', "&ouml;"},
        {u'\u00DC', "&Uuml;"},
        {u'\u00C4', "&Auml;"},
        {u'\u00D6', "&Ouml;"},
        {u'\u00DF', "&szlig;"},
    };
    for (const auto& letter : letters)
        sHtml.replace(QChar(letter.letter), QLatin1String(letter.entity));
    return sHtml;
}

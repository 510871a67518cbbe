// The pre-service testing log: a temporary HTML document in the user's runtime directory (else
// "zuvian" in the data directory) to which a test procedure adds typed blocks, and in which it can
// replace the first block of a type. Each block stands between "<!-- Start type -->" and
// "<!-- Ende type -->" and is followed by the separator "<!--Block-->"; the footer closes the
// document.
//
// The file is created exclusively and readable by its owner only: whatever already stands under
// the name, a symbolic link included, is never followed or replaced, and later reads and writes
// do not follow a link either. The object removes its file when it ends. Between operations the
// file is closed; every operation opens it anew.
#ifndef PROTOKOLL_H
#define PROTOKOLL_H

#include <QFile>
#include <QObject>
#include <QString>
#include <QUrl>

class Protokoll : public QObject
{
    Q_OBJECT

public:
    static const QString HTML_HEADER;
    static const QString HTML_HEADER1;
    static const QString HTML_FOOTER;

    explicit Protokoll(QObject* parent);
    // Removes the current log file, if there is one.
    ~Protokoll() override;

    // Starts a new log "zuvian{uuid}<fileExtension>" in directory(). Returns its path, or the
    // empty string when it could not be created (the log in use, if any, stays).
    QString CreateTempFile(QString fileExtension);
    // Appends a block of `contentType` holding `htmlContent`, with ü, ä, ö, Ü, Ä, Ö and ß as
    // HTML entities. Returns the log file's path as a URL (without scheme); nothing is written
    // when the log cannot be read.
    QUrl WriteHtml(QString htmlContent, QString contentType);
    // Replaces the first block of `sContentType` by one holding `contentToReplace` as it is
    // (no entities);
    // `contentToFind` plays no part. Returns the URL as WriteHtml; nothing is written when the
    // log cannot be read or holds no block of that type.
    QUrl replaceContent(QString contentToFind, QString contentToReplace, QString sContentType);
    // Returns whether the log's text contains `searchContent` (case-sensitive); false when the
    // log cannot be read.
    bool hasContent(QString searchContent);
    // Returns the path of the current log; empty before the first successful CreateTempFile.
    QString getCurrentFileName();
    // Removes the current log file (a link standing in its place is removed, not followed).
    void DeleteTempFile();

    // Returns the directory new logs are created in: $XDG_RUNTIME_DIR, else "zuvian" in the
    // user's data directory.
    static QString directory();

private:
    QString generateTempFileName();
    bool fileCheck(QFile& file);
    QString readFromFile();
    void writeToFile(QString content);
    QString getLastContent(QString contentAll, QString contentSeperator, QString lastSearchContent);
    QString localizeHtml(QString sHtml);

    QString currentFilename;
};

#endif // PROTOKOLL_H

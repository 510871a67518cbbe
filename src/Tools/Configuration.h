// Access to the program's configuration: the embedded settings file ":/res/VX.conf" and XML
// documents such as the parameter file. Objects are meant to live for one lookup on the stack;
// the settings side keeps nothing between calls, the XML side keeps the document last loaded.
#ifndef CONFIGURATION_H
#define CONFIGURATION_H

#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>
#include <QDomNodeList>
#include <QFile>
#include <QString>

#include "CustomExceptions.h"

class Configuration
{
public:
    // Creates an object with no document loaded.
    Configuration();
    // Creates the object and loads `filename` as a "zuvianConfiguration" document.
    explicit Configuration(QString filename);
    // Creates the object and loads `filename` as a document of type `configType`.
    Configuration(QString filename, QString configType);
    virtual ~Configuration();

    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

    // Returns the value of `key` in `group` of the settings file; the empty string if the file
    // lacks the group or the key. Throws SettingException if group or key is null or empty.
    QString readAppSetting(QString group, QString key);
    // Sets `key` in `group`. The settings file is a read-only resource, so nothing is stored
    // and the result is always false.
    bool writeAppSetting(QString group, QString key, QString value);

    // The largest file readConfigFile reads. A document is held whole in memory (some hundred
    // bytes per element), and the biggest file the program has a use for, a full backup of the
    // robot, is about 30 KB.
    static constexpr qint64 maxFileBytes = 1024 * 1024;

    // Loads `filename` into the current document. A file that cannot be opened or parsed, or
    // that is larger than maxFileBytes, leaves an empty document of type `configType`; nothing
    // is reported.
    void readConfigFile(QString filename, QString configType);
    // The same, and returns an empty text when the document was loaded, or why it was not (the
    // file cannot be opened, is too large, or is no well-formed XML: with line and column).
    QString loadConfigFile(QString filename, QString configType);
    // The same with the type name "zuvianConfiguration".
    void readConfigFile(QString filename);

    // Returns the children of the first element named `nodeName`, searched from the first child
    // of the document element; empty if the document element is not named `rootName` or no such
    // element with children exists.
    QDomNodeList GetNodeList(QString nodeName, QString rootName);
    // The same, but the search starts at `node`; empty for a null node.
    QDomNodeList GetNodeList(QString nodeName, QString rootName, QDomNode node);

    // Returns the first element at or after `node` in document order named `tag`; null if none.
    QDomNode findNode(QDomNode& node, const QString& tag);
    // As findNode, but the element must also carry attribute `nodeIDAttr` with value `nodeID`.
    QDomNode findNodeById(QDomNode& node, const QString& tag, QString nodeIDAttr, QString nodeID);
    // Returns the value of `attributeName` on `node`, the empty string if the node lacks it,
    // and an error text if the node is null.
    QString getAttributeValueFromNode(QDomNode node, QString attributeName);

    // Returns the document element of the current document; null when none was loaded.
    QDomElement documentElement() const { return currentDoc.documentElement(); }

    // Returns the node after `node` in document order: its first child, or else the next
    // sibling of it or of its nearest ancestor that has one; null once the document is done.
    static QDomNode nextInDocumentOrder(const QDomNode& node);

    // Each returns whether the node has a parent, a next sibling, or any child.
    bool hasParent(const QDomNode& node);
    bool hasSibling(const QDomNode& node);
    bool hasChild(const QDomNode& node);

private:
    QFile configFile;
    QDomDocument currentDoc;
};

#endif // CONFIGURATION_H

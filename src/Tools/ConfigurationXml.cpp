// XML half of Configuration: loads a document and finds sections in it by element name alone,
// so the nesting of a file may change without touching its readers.
#include "Configuration.h"

#include <QXmlStreamReader>

namespace {

// The program's documents nest four or five levels deep. The DOM frees its tree recursively, so
// a file of a hundred thousand nested elements would overflow the stack when the document goes
// away; such a file is refused before a DOM is built. The scan stops at the limit or at the first
// error, which the DOM parse then reports with its position.
const int maxNesting = 32;

QString nestingBeyondLimit(const QByteArray& content)
{
    QXmlStreamReader reader(content);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > maxNesting)
            return QStringLiteral("line %1: elements nested deeper than %2 levels")
                .arg(reader.lineNumber())
                .arg(maxNesting);
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return QString();
}

}

void Configuration::readConfigFile(QString filename, QString configType)
{
    loadConfigFile(filename, configType);
}

QString Configuration::loadConfigFile(QString filename, QString configType)
{
    currentDoc = QDomDocument(configType);
    if (configFile.isOpen())
        configFile.close();
    configFile.setFileName(filename);
    if (!configFile.open(QIODevice::ReadOnly))
        return configFile.errorString();

    // The size is looked at before anything is read, so an oversized file costs neither time nor
    // memory; reading one byte past the limit also stops a pipe or a file that grows meanwhile.
    const QString tooLarge = QStringLiteral("larger than %1 bytes (1 MB), the most a file of "
                                            "the program may hold")
                                 .arg(maxFileBytes);
    if (configFile.size() > maxFileBytes) {
        configFile.close();
        return tooLarge;
    }
    const QByteArray content = configFile.read(maxFileBytes + 1);
    configFile.close();
    if (content.size() > maxFileBytes)
        return tooLarge;

    const QString tooDeep = nestingBeyondLimit(content);
    if (!tooDeep.isEmpty())
        return tooDeep;

    // A document that fails to parse may be half built; readers rely on an empty result to
    // stop, so such a document is replaced by an empty one.
    QString message;
    int line = 0;
    int column = 0;
    if (!currentDoc.setContent(content, false, &message, &line, &column)) {
        currentDoc = QDomDocument(configType);
        return QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(message);
    }
    return QString();
}

void Configuration::readConfigFile(QString filename)
{
    readConfigFile(filename, QStringLiteral("zuvianConfiguration"));
}

QDomNodeList Configuration::GetNodeList(QString nodeName, QString rootName)
{
    const QDomElement root = currentDoc.documentElement();
    if (root.tagName() != rootName)
        return QDomNodeList();
    QDomNode start = root.firstChild();
    if (start.isNull())
        return QDomNodeList();
    const QDomNode found = findNode(start, nodeName);
    if (!found.hasChildNodes())
        return QDomNodeList();
    return found.childNodes();
}

QDomNodeList Configuration::GetNodeList(QString nodeName, QString rootName, QDomNode node)
{
    if (currentDoc.documentElement().tagName() != rootName || node.isNull())
        return QDomNodeList();
    const QDomNode found = findNode(node, nodeName);
    if (!found.hasChildNodes())
        return QDomNodeList();
    return found.childNodes();
}

QDomNode Configuration::nextInDocumentOrder(const QDomNode& node)
{
    // A loop rather than recursion, so a deeply nested file cannot exhaust the stack.
    if (!node.firstChild().isNull())
        return node.firstChild();
    QDomNode climb = node;
    while (!climb.isNull() && climb.nextSibling().isNull())
        climb = climb.parentNode();
    return climb.isNull() ? QDomNode() : climb.nextSibling();
}

namespace {

template <typename Match>
QDomNode walkFrom(const QDomNode& start, Match matches)
{
    for (QDomNode node = start; !node.isNull(); node = Configuration::nextInDocumentOrder(node)) {
        if (node.isElement() && matches(node.toElement()))
            return node;
    }
    return QDomNode();
}

}

QDomNode Configuration::findNode(QDomNode& node, const QString& tag)
{
    return walkFrom(node, [&tag](const QDomElement& e) { return e.tagName() == tag; });
}

QDomNode Configuration::findNodeById(
    QDomNode& node, const QString& tag, QString nodeIDAttr, QString nodeID)
{
    return walkFrom(node, [&](const QDomElement& e) {
        return e.tagName() == tag && e.hasAttribute(nodeIDAttr)
            && e.attribute(nodeIDAttr) == nodeID;
    });
}

QString Configuration::getAttributeValueFromNode(QDomNode node, QString attributeName)
{
    if (node.isNull())
        return QStringLiteral(
            "Configuration-Error in method 'getAttributeValueFromNode': Node is missing!");
    if (!node.hasAttributes())
        return QString("");
    const QDomNode attribute = node.attributes().namedItem(attributeName);
    if (attribute.isNull())
        return QString("");
    return attribute.nodeValue();
}

bool Configuration::hasParent(const QDomNode& node)
{
    return !node.parentNode().isNull();
}

bool Configuration::hasSibling(const QDomNode& node)
{
    return !node.nextSibling().isNull();
}

bool Configuration::hasChild(const QDomNode& node)
{
    return node.hasChildNodes();
}

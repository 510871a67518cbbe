// XML half of Configuration: loads a document and finds sections in it by element name alone,
// so the nesting of a file may change without touching its readers.
#include "Configuration.h"

void Configuration::readConfigFile(QString filename, QString configType)
{
    currentDoc = QDomDocument(configType);
    if (configFile.isOpen())
        configFile.close();
    configFile.setFileName(filename);
    if (!configFile.open(QIODevice::ReadOnly))
        return;

    // A document that fails to parse may be half built; readers rely on an empty result to
    // stop, so such a document is replaced by an empty one.
    if (!currentDoc.setContent(&configFile, false))
        currentDoc = QDomDocument(configType);
    configFile.close();
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

namespace {

// The next node after `node` in document order: its first child, or else the next sibling of
// it or of its nearest ancestor that has one. Null once the document is exhausted. A loop rather
// than recursion, so a deeply nested file cannot exhaust the stack.
QDomNode nextInDocumentOrder(const QDomNode& node)
{
    if (!node.firstChild().isNull())
        return node.firstChild();
    QDomNode climb = node;
    while (!climb.isNull() && climb.nextSibling().isNull())
        climb = climb.parentNode();
    return climb.isNull() ? QDomNode() : climb.nextSibling();
}

template <typename Match>
QDomNode walkFrom(const QDomNode& start, Match matches)
{
    for (QDomNode node = start; !node.isNull(); node = nextInDocumentOrder(node)) {
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

QDomNode Configuration::findNodeById(QDomNode& node, const QString& tag, QString nodeIDAttr, QString nodeID)
{
    return walkFrom(node, [&](const QDomElement& e) {
        return e.tagName() == tag && e.hasAttribute(nodeIDAttr) && e.attribute(nodeIDAttr) == nodeID;
    });
}

QString Configuration::getAttributeValueFromNode(QDomNode node, QString attributeName)
{
    if (node.isNull())
        return QStringLiteral("Configuration-Error in method 'getAttributeValueFromNode': Node is missing!");
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

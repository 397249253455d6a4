// What the xml files of this room share with each other: libxml2 documents
// of stored xml, and the text SQL Server writes for a node. Not for other rooms.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string>

namespace ts {

using XmlDocHandle = std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>;

// Stored xml parsed into a document whose children are the fragment's
// top-level nodes; null when it is not well-formed.
XmlDocHandle parseXmlFragment(const std::string &xml);

// Appends the node as SQL Server writes xml back (see checkXml()).
void serialiseXmlNode(xmlNodePtr node, std::string &out);

// The document's top-level nodes as stored xml text.
std::string serialiseXmlDocument(xmlDocPtr doc);

// Stored xml, or a context node made by nodes(): the document, and the node
// a path starts from (the document node itself for plain xml). False when
// the text is no well-formed xml or the reference names no node.
bool xmlContext(const std::string &value, XmlDocHandle &doc, xmlNodePtr &node);

} // namespace ts

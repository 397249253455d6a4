// Untyped xml values: the well-formedness check SQL Server makes when text
// becomes xml, with its error number and text.
#pragma once

#include <string>
#include <vector>

namespace ts {

struct XmlError {
    int number = 0;     // 9400, 9436, 9421 ...
    std::string text;   // "XML parsing: line 1, character 3, unexpected end of input"
};

// True when `utf8` is well-formed XML content after an optional XML
// declaration. Untyped xml holds fragments: several top-level elements and
// text between them are allowed. Otherwise `err` gets SQL Server's error.
// `stored` gets the text SQL Server keeps and gives back for it.
bool checkXml(const std::string &utf8, XmlError *err, std::string *stored = nullptr);

// The result of an XPath 1.0 expression over stored xml (a fragment: its
// top-level nodes are the document's children).
struct XmlPathResult {
    bool isNodeSet = false;
    std::vector<std::string> values;  // string-value of each node, or the one scalar
    std::string serialized;           // the nodes as xml text (query())
};

// Evaluates `xpath` over `xml`; false with `error` set for an expression
// libxml2 cannot evaluate.
bool evalXmlPath(const std::string &xml, const std::string &xpath, XmlPathResult &out, std::string *error);

// nodes(): for each node `xpath` selects in `xml` (stored xml, or a context
// node nodes() gave before), in document order, a context node for the
// xml methods: the stored text with the node's place in it. False with
// `error` set for a path libxml2 cannot evaluate or one giving no nodes.
bool xmlNodeRefs(const std::string &xml, const std::string &xpath, std::vector<std::string> &refs, std::string *error);

// True for a value nodes() made rather than stored xml.
bool isXmlNodeRef(const std::string &value);

} // namespace ts

// XML DML, the statement modify() takes: insert, delete and replace value of
// over untyped xml, applied with libxml2's tree API.
#pragma once

#include "base/xmlvalue.h"

#include <string>

namespace ts {

struct XmlDml {
    enum Kind { Insert, Delete, Replace } kind = Delete;
    enum Where { Into, AsFirst, AsLast, Before, After } where = Into;
    std::string content;   // insert: the constructed xml or a string literal's text
    bool contentIsText = false;
    std::string target;    // the path of the node(s) acted on
    std::string with;      // replace value of: the new value's expression
};

// Reads the statement; false with SQL Server's static error in `err` for a
// syntax it does not know or a target not known to be a single node.
bool parseXmlDml(const std::string &dml, XmlDml &out, XmlError &err);

// Applies the statement to stored xml: the changed xml in `out`.
bool applyXmlDml(const std::string &xml, const XmlDml &dml, std::string &out, XmlError &err);

} // namespace ts

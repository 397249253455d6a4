// XML DML applied to a parsed document: the targets are found by XPath from
// the document node, the content built by parsing it as a fragment.
#include "base/xmlinternal.h"
#include "base/xmlmodify.h"

#include <libxml/xpath.h>

#include <algorithm>
#include <vector>

namespace ts {

namespace {

using XPathObject = std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)>;

XPathObject evaluate(xmlDocPtr doc, const std::string &path)
{
    std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> ctx(xmlXPathNewContext(doc), xmlXPathFreeContext);
    if (!ctx) return XPathObject(nullptr, xmlXPathFreeObject);
    xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    XPathObject r(xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(path.c_str()), ctx.get()), xmlXPathFreeObject);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    return r;
}

std::vector<xmlNodePtr> nodesOf(const XPathObject &r)
{
    std::vector<xmlNodePtr> out;
    if (r && r->type == XPATH_NODESET && r->nodesetval)
        for (int k = 0; k < r->nodesetval->nodeNr; ++k) out.push_back(r->nodesetval->nodeTab[k]);
    return out;
}

bool pathError(const std::string &path, XmlError &err)
{
    err.number = 2216;
    err.text = "XQuery [modify()]: Syntax error near '" + path + "'";
    return false;
}

// Puts `fresh` (owned by `doc`) where the statement says, next to or inside `target`.
void place(xmlNodePtr target, xmlNodePtr fresh, XmlDml::Where where)
{
    switch (where) {
    case XmlDml::Before: xmlAddPrevSibling(target, fresh); break;
    case XmlDml::After: xmlAddNextSibling(target, fresh); break;
    case XmlDml::AsFirst:
        if (target->children) xmlAddPrevSibling(target->children, fresh);
        else xmlAddChild(target, fresh);
        break;
    default: xmlAddChild(target, fresh); break;
    }
}

bool insert(xmlDocPtr doc, const XmlDml &dml, XmlError &err)
{
    XPathObject r = evaluate(doc, dml.target);
    if (!r) return pathError(dml.target, err);
    const std::vector<xmlNodePtr> targets = nodesOf(r);
    if (targets.empty()) return true;
    std::vector<xmlNodePtr> fresh;
    if (dml.contentIsText) {
        fresh.push_back(xmlNewDocText(doc, reinterpret_cast<const xmlChar *>(dml.content.c_str())));
    } else {
        XmlDocHandle parsed = parseXmlFragment(dml.content);
        for (xmlNodePtr c = parsed ? parsed->children : nullptr; c; c = c->next) fresh.push_back(xmlDocCopyNode(c, doc, 1));
    }
    // After a node the pieces go in reverse so that they keep their order.
    if (dml.where == XmlDml::After || dml.where == XmlDml::AsFirst) std::reverse(fresh.begin(), fresh.end());
    for (xmlNodePtr n : fresh) place(targets.front(), n, dml.where);
    return true;
}

bool remove(xmlDocPtr doc, const XmlDml &dml, XmlError &err)
{
    XPathObject r = evaluate(doc, dml.target);
    if (!r) return pathError(dml.target, err);
    std::vector<xmlNodePtr> targets = nodesOf(r);
    r.reset();
    for (xmlNodePtr n : targets) {
        if (n->type == XML_ATTRIBUTE_NODE) { xmlRemoveProp(reinterpret_cast<xmlAttrPtr>(n)); continue; }
        if (n->type == XML_DOCUMENT_NODE) continue;
        xmlUnlinkNode(n);
        xmlFreeNode(n);
    }
    return true;
}

bool replace(xmlDocPtr doc, const XmlDml &dml, XmlError &err)
{
    XPathObject r = evaluate(doc, dml.target);
    if (!r) return pathError(dml.target, err);
    const std::vector<xmlNodePtr> targets = nodesOf(r);
    if (targets.empty()) return true;
    XPathObject v = evaluate(doc, dml.with);
    if (!v) return pathError(dml.with, err);
    xmlChar *text = xmlXPathCastToString(v.get());
    std::unique_ptr<xmlChar, void (*)(void *)> keep(text, xmlFree);
    // A text node takes the characters as they are; an attribute's or element's content is read as markup.
    xmlNodePtr target = targets.front();
    if (target->type == XML_TEXT_NODE || target->type == XML_CDATA_SECTION_NODE) {
        xmlNodeSetContent(target, text);
    } else {
        xmlChar *escaped = xmlEncodeSpecialChars(doc, text);
        xmlNodeSetContent(target, escaped);
        xmlFree(escaped);
    }
    return true;
}

} // namespace

bool applyXmlDml(const std::string &xml, const XmlDml &dml, std::string &out, XmlError &err)
{
    XmlDocHandle doc = parseXmlFragment(xml);
    if (!doc) { err.number = 9400; err.text = "XML parsing: unexpected end of input"; return false; }
    const bool ok = dml.kind == XmlDml::Insert ? insert(doc.get(), dml, err)
        : dml.kind == XmlDml::Delete ? remove(doc.get(), dml, err) : replace(doc.get(), dml, err);
    if (ok) out = serialiseXmlDocument(doc.get());
    return ok;
}

} // namespace ts

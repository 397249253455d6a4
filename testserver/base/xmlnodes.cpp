// Context nodes of nodes(): a row's node travels through SQLite as text,
// "\x01" + its place + "\x01" + the stored xml it belongs to, so that value(),
// query(), exist() and a further nodes() can start from it and still reach
// its parent and siblings. The place is the child positions from the
// document down ("0/2/1"), an attribute's as "@k" after its element's.
#include "base/xmlinternal.h"
#include "base/xmlvalue.h"

#include <libxml/xpath.h>

#include <cstdlib>

namespace ts {

namespace {

const char kMark = '\x01';

std::string placeOf(xmlNodePtr node)
{
    std::string place;
    auto prepend = [&](const std::string &step) { place = place.empty() ? step : step + "/" + place; };
    if (node->type == XML_ATTRIBUTE_NODE) {
        int k = 0;
        for (xmlAttrPtr a = node->parent->properties; a && reinterpret_cast<xmlNodePtr>(a) != node; a = a->next) ++k;
        prepend("@" + std::to_string(k));
        node = node->parent;
    }
    for (; node && node->type != XML_DOCUMENT_NODE; node = node->parent) {
        int k = 0;
        for (xmlNodePtr s = node->prev; s; s = s->prev) ++k;
        prepend(std::to_string(k));
    }
    return place;
}

// The node at `place` under `doc`; null when there is none.
xmlNodePtr nodeAt(xmlDocPtr doc, const std::string &place)
{
    xmlNodePtr node = reinterpret_cast<xmlNodePtr>(doc);
    size_t from = 0;
    while (node && from < place.size()) {
        const size_t slash = place.find('/', from);
        const std::string step = place.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        from = slash == std::string::npos ? place.size() : slash + 1;
        const bool attribute = !step.empty() && step[0] == '@';
        long k = std::strtol(step.c_str() + (attribute ? 1 : 0), nullptr, 10);
        if (attribute) {
            xmlAttrPtr a = node->type == XML_ELEMENT_NODE ? node->properties : nullptr;
            while (a && k-- > 0) a = a->next;
            return a ? reinterpret_cast<xmlNodePtr>(a) : nullptr;
        }
        xmlNodePtr c = node->children;
        while (c && k-- > 0) c = c->next;
        node = c;
    }
    return node;
}

} // namespace

bool isXmlNodeRef(const std::string &value)
{
    return !value.empty() && value[0] == kMark;
}

bool xmlContext(const std::string &value, XmlDocHandle &doc, xmlNodePtr &node)
{
    if (!isXmlNodeRef(value)) {
        doc = parseXmlFragment(value);
        node = reinterpret_cast<xmlNodePtr>(doc.get());
        return doc != nullptr;
    }
    const size_t end = value.find(kMark, 1);
    if (end == std::string::npos) return false;
    doc = parseXmlFragment(value.substr(end + 1));
    node = doc ? nodeAt(doc.get(), value.substr(1, end - 1)) : nullptr;
    return node != nullptr;
}

bool xmlNodeRefs(const std::string &xml, const std::string &xpath, std::vector<std::string> &refs, std::string *error)
{
    XmlDocHandle doc(nullptr, xmlFreeDoc);
    xmlNodePtr start = nullptr;
    if (!xmlContext(xml, doc, start)) { if (error) *error = "not well-formed"; return false; }
    std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> ctx(xmlXPathNewContext(doc.get()), xmlXPathFreeContext);
    if (!ctx) return false;
    ctx->node = start;
    xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    xmlXPathObjectPtr r = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(xpath.c_str()), ctx.get());
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (!r || r->type != XPATH_NODESET) {
        if (error) *error = r ? "not nodes" : "syntax";
        xmlXPathFreeObject(r);
        return false;
    }
    // The places hold in the text the document was parsed from.
    const std::string stored = isXmlNodeRef(xml) ? xml.substr(xml.find(kMark, 1) + 1) : xml;
    for (int k = 0; r->nodesetval && k < r->nodesetval->nodeNr; ++k)
        refs.push_back(kMark + placeOf(r->nodesetval->nodeTab[k]) + kMark + stored);
    xmlXPathFreeObject(r);
    return true;
}

} // namespace ts

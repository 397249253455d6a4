// Well-formedness of untyped xml, checked by libxml2. The content is parsed
// inside a wrapper element so that fragments (several roots, top-level text)
// pass as they do in SQL Server; libxml2's error is then told in SQL Server's
// words and positions.
#include "base/xmlvalue.h"
#include "base/xmlinternal.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <memory>

namespace ts {

namespace {

const char kOpen[] = "<dv_fragment>";
const char kClose[] = "</dv_fragment>";

// The XML declaration at the very start, if any: its length, else 0.
size_t declarationLength(const std::string &s)
{
    if (s.compare(0, 5, "<?xml") != 0 || s.size() < 6 || (s[5] != ' ' && s[5] != '\t' && s[5] != '\r' && s[5] != '\n'))
        return 0;
    const size_t end = s.find("?>");
    return end == std::string::npos ? 0 : end + 2;
}

// Line and character (1-based, in characters) just after the last character of `s`.
std::pair<int, int> endPosition(const std::string &s)
{
    int line = 1, ch = 0;
    for (unsigned char c : s) {
        if (c == '\n') { ++line; ch = 0; continue; }
        if ((c & 0xC0) != 0x80) ++ch;
    }
    return {line, ch};
}

std::string located(int line, int ch, const char *what)
{
    return "XML parsing: line " + std::to_string(line) + ", character " + std::to_string(ch) + ", " + what;
}

// SQL Server's error for libxml2's: an element left open or the input cut
// short is "unexpected end of input" at the end of the text.
XmlError translate(const xmlError &e, const std::string &body)
{
    XmlError out;
    // libxml2's column is the one after the character it stopped at.
    const auto [lastLine, lastChar] = endPosition(body);
    const int wrapper = int(sizeof kOpen) - 1;
    const bool atWrapper = e.int1 != 0 || e.line > lastLine
        || (e.code != XML_ERR_TAG_NAME_MISMATCH && e.line == lastLine && e.int2 - 1 >= lastChar + (e.line == 1 ? wrapper : 0));
    if (atWrapper || e.code == XML_ERR_DOCUMENT_END || e.code == XML_ERR_TAG_NOT_FINISHED) {
        out.number = 9400;
        out.text = located(lastLine, lastChar, "unexpected end of input");
        return out;
    }
    const int ch = (e.line == 1 ? e.int2 - wrapper : e.int2) - 1;
    if (e.code == XML_ERR_TAG_NAME_MISMATCH) {
        out.number = 9436;
        out.text = located(e.line, ch, "end tag does not match start tag");
        return out;
    }
    out.number = 9421;
    out.text = located(e.line, ch, "illegal name character");
    return out;
}

// Keeps the first error: later ones follow from it.
void firstError(void *userData, xmlErrorPtr e)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(userData);
    auto *first = static_cast<xmlError *>(ctxt->_private);
    if (first->code == XML_ERR_OK && e) {
        *first = *e;
        first->message = nullptr;
        first->file = nullptr;
        first->str1 = first->str2 = first->str3 = nullptr;
        first->ctxt = first->node = nullptr;
        first->int1 = e->message && std::string(e->message).find("dv_fragment") != std::string::npos;
    }
}

std::string escaped(const xmlChar *raw, bool attribute)
{
    std::string out;
    for (const char *p = reinterpret_cast<const char *>(raw); p && *p; ++p) {
        switch (*p) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        default: out += *p;
        }
    }
    return out;
}

std::string qualified(const xmlChar *prefix, const xmlChar *name)
{
    const std::string local = reinterpret_cast<const char *>(name);
    return prefix ? reinterpret_cast<const char *>(prefix) + (":" + local) : local;
}

bool blank(const xmlChar *text)
{
    for (const xmlChar *p = text; p && *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
    return true;
}

void serialise(xmlNodePtr node, std::string &out);

void serialiseElement(xmlNodePtr node, std::string &out)
{
    const std::string name = qualified(node->ns ? node->ns->prefix : nullptr, node->name);
    out += "<" + name;
    for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next)
        out += std::string(" xmlns") + (ns->prefix ? ":" + std::string(reinterpret_cast<const char *>(ns->prefix)) : "")
            + "=\"" + escaped(ns->href, true) + "\"";
    for (xmlAttrPtr a = node->properties; a; a = a->next) {
        xmlChar *value = xmlNodeListGetString(node->doc, a->children, 1);
        out += " " + qualified(a->ns ? a->ns->prefix : nullptr, a->name) + "=\"" + escaped(value, true) + "\"";
        xmlFree(value);
    }
    if (!node->children) { out += " />"; return; }
    out += ">";
    for (xmlNodePtr c = node->children; c; c = c->next) serialise(c, out);
    out += "</" + name + ">";
}

// The text SQL Server gives back for stored xml: empty elements as <a />,
// attributes in double quotes, whitespace-only text left out, CDATA as text.
void serialise(xmlNodePtr node, std::string &out)
{
    switch (node->type) {
    case XML_ELEMENT_NODE: serialiseElement(node, out); break;
    case XML_TEXT_NODE: case XML_CDATA_SECTION_NODE:
        if (!blank(node->content)) out += escaped(node->content, false);
        break;
    case XML_COMMENT_NODE: out += "<!--" + std::string(reinterpret_cast<const char *>(node->content)) + "-->"; break;
    case XML_PI_NODE:
        out += "<?" + std::string(reinterpret_cast<const char *>(node->name));
        if (node->content && *node->content) out += " " + std::string(reinterpret_cast<const char *>(node->content));
        out += "?>";
        break;
    default: break;
    }
}

// libxml2 is set up once, before any session thread parses.
void initOnce()
{
    static const bool ready = (xmlInitParser(), true);
    (void)ready;
}

// Parses stored xml into a document whose children are the fragment's top-level nodes.
xmlDocPtr fragmentDocument(const std::string &xml)
{
    const std::string doc = kOpen + xml + kClose;
    xmlDocPtr d = xmlReadMemory(doc.data(), int(doc.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!d) return nullptr;
    xmlNodePtr wrapper = xmlDocGetRootElement(d);
    xmlUnlinkNode(wrapper);
    while (xmlNodePtr c = wrapper->children) {
        xmlUnlinkNode(c);
        xmlAddChild(reinterpret_cast<xmlNodePtr>(d), c);
    }
    xmlFreeNode(wrapper);
    return d;
}

std::string stringValue(xmlNodePtr node)
{
    xmlChar *v = xmlNodeGetContent(node);
    std::string out = v ? reinterpret_cast<const char *>(v) : "";
    xmlFree(v);
    return out;
}

// A number as XPath's string() gives it: integers without a fraction.
std::string numberText(double d)
{
    xmlChar *v = xmlXPathCastNumberToString(d);
    std::string out = reinterpret_cast<const char *>(v);
    xmlFree(v);
    return out;
}

void collect(xmlXPathObjectPtr r, XmlPathResult &out)
{
    switch (r->type) {
    case XPATH_NODESET:
        out.isNodeSet = true;
        for (int k = 0; r->nodesetval && k < r->nodesetval->nodeNr; ++k) {
            xmlNodePtr n = r->nodesetval->nodeTab[k];
            out.values.push_back(stringValue(n));
            if (n->type == XML_ATTRIBUTE_NODE) out.serialized += escaped(reinterpret_cast<const xmlChar *>(out.values.back().c_str()), false);
            else serialise(n, out.serialized);
        }
        break;
    case XPATH_BOOLEAN: out.values.push_back(r->boolval ? "true" : "false"); break;
    case XPATH_NUMBER: out.values.push_back(numberText(r->floatval)); break;
    case XPATH_STRING: out.values.push_back(r->stringval ? reinterpret_cast<const char *>(r->stringval) : ""); break;
    default: break;
    }
    if (!out.isNodeSet && !out.values.empty()) out.serialized = out.values.front();
}

} // namespace

XmlDocHandle parseXmlFragment(const std::string &xml)
{
    initOnce();
    return XmlDocHandle(fragmentDocument(xml), xmlFreeDoc);
}

void serialiseXmlNode(xmlNodePtr node, std::string &out)
{
    serialise(node, out);
}

std::string serialiseXmlDocument(xmlDocPtr doc)
{
    std::string out;
    for (xmlNodePtr c = doc->children; c; c = c->next) serialise(c, out);
    return out;
}

bool evalXmlPath(const std::string &xml, const std::string &xpath, XmlPathResult &out, std::string *error)
{
    initOnce();
    out = XmlPathResult{};
    XmlDocHandle doc(nullptr, xmlFreeDoc);
    xmlNodePtr start = nullptr;
    if (!xmlContext(xml, doc, start)) { if (error) *error = "not well-formed"; return false; }
    std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> ctx(xmlXPathNewContext(doc.get()), xmlXPathFreeContext);
    if (ctx) ctx->node = start;
    xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    xmlXPathObjectPtr r = ctx ? xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(xpath.c_str()), ctx.get()) : nullptr;
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (!r) { if (error) *error = "syntax"; return false; }
    collect(r, out);
    xmlXPathFreeObject(r);
    return true;
}

bool checkXml(const std::string &utf8, XmlError *err, std::string *stored)
{
    initOnce();
    const std::string body = utf8.substr(declarationLength(utf8));
    const std::string doc = kOpen + body + kClose;
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
    if (!ctxt) return false;
    xmlError first{};
    ctxt->_private = &first;
    ctxt->sax->serror = firstError;
    xmlDocPtr parsed = xmlCtxtReadMemory(ctxt.get(), doc.data(), int(doc.size()), nullptr, "UTF-8",
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool ok = parsed && ctxt->wellFormed && first.code == XML_ERR_OK;
    if (ok && stored) {
        stored->clear();
        for (xmlNodePtr c = xmlDocGetRootElement(parsed)->children; c; c = c->next) serialise(c, *stored);
    }
    if (parsed) xmlFreeDoc(parsed);
    if (ok) return true;
    if (err) *err = translate(first, body);
    return false;
}

} // namespace ts

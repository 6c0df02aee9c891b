// Prints an index document the way TinyXML's printer lays it out, with the index format's
// escape rule. No Windows headers.
//
// Debian's TinyXML escapes every '&', while the index format (shared with the product that
// writes these files) copies a "&#x" reference through unchanged up to its ';'. Only that
// rule differs, so the layout (declaration line, four spaces per level, " />" for an
// element without children, single quotes around a value holding a double quote) is
// TiXmlPrinter's and the escapes are those of TinyXML's EncodeString before that patch.
#pragma once
#include "tinyxml.h"
#include <string>

// XML escape of an attribute value or name: & < > " ' as the five entities, a character
// below 32 as "&#x%02X;", a "&#x" reference copied unchanged up to its ';', all other
// bytes (UTF-8 included) as they are.
std::string EncodeIndexText(const std::string& text);

// Visits a document holding a declaration and elements with attributes (all an index
// holds; other nodes print nothing). Lines end in LF.
class CIndexPrinter : public TiXmlVisitor
{
public:
    bool VisitEnter(const TiXmlElement& element, const TiXmlAttribute* firstAttribute) override;
    bool VisitExit(const TiXmlElement& element) override;
    bool Visit(const TiXmlDeclaration& declaration) override;

    const std::string& Text() const { return m_sText; }

private:
    void Indent();

    int m_nDepth = 0;
    std::string m_sText;
};

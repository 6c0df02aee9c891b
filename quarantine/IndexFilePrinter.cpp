// The index document printer (see IndexFilePrinter.h).
#include "quarantine/IndexFilePrinter.h"
#include <cstdio>

std::string EncodeIndexText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '&' && i + 2 < text.size() && text[i + 1] == '#' && text[i + 2] == 'x') {
            // Up to the ';' (which the next round writes), or up to the last character
            // when there is none.
            while (i + 1 < text.size()) {
                out += text[i++];
                if (text[i] == ';')
                    break;
            }
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (c < 32) {
                char ref[8];
                std::snprintf(ref, sizeof(ref), "&#x%02X;", c);
                out += ref;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out;
}

void CIndexPrinter::Indent()
{
    m_sText.append(static_cast<size_t>(m_nDepth) * 4, ' ');
}

bool CIndexPrinter::VisitEnter(const TiXmlElement& element, const TiXmlAttribute* firstAttribute)
{
    Indent();
    m_sText += '<';
    m_sText += element.Value();
    for (const TiXmlAttribute* a = firstAttribute; a; a = a->Next()) {
        const std::string& value = a->ValueStr();
        const char* quote = value.find('"') == std::string::npos ? "\"" : "'";
        m_sText += ' ';
        m_sText += EncodeIndexText(a->NameTStr());
        m_sText += '=';
        m_sText += quote;
        m_sText += EncodeIndexText(value);
        m_sText += quote;
    }
    m_sText += element.FirstChild() ? ">\n" : " />\n";
    ++m_nDepth;
    return true;
}

bool CIndexPrinter::VisitExit(const TiXmlElement& element)
{
    --m_nDepth;
    if (element.FirstChild()) {
        Indent();
        m_sText += "</";
        m_sText += element.Value();
        m_sText += ">\n";
    }
    return true;
}

bool CIndexPrinter::Visit(const TiXmlDeclaration& declaration)
{
    Indent();
    declaration.Print(/*cfile=*/nullptr, /*depth=*/0, &m_sText);
    m_sText += '\n';
    return true;
}

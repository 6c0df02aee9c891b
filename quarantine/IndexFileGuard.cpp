// The walk over an index text before parsing (see IndexFileGuard.h). It follows TinyXML's
// own reading closely enough that, wherever TinyXML goes on parsing, both agree on which
// markup opens and closes an element.
#include "quarantine/IndexFileGuard.h"
#include <algorithm>
#include <cstring>

namespace {

bool IsAsciiLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool IsHexDigit(unsigned char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// TinyXML's white space: isspace in the C locale.
bool IsXmlSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// TinyXML takes every byte from 127 up for a letter.
bool IsNameStart(unsigned char c)
{
    return IsAsciiLetter(c) || c == '_' || c >= 127;
}

bool IsNameChar(unsigned char c)
{
    return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.' || c == ':';
}

unsigned char Lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

class CIndexWalk
{
public:
    explicit CIndexWalk(const std::string& text)
        : m_p(text.data()), m_end(text.data() + text.size())
    {
    }

    bool Run()
    {
        for (;;) {
            SkipSpace();
            if (AtEnd())
                return true;
            if (*m_p == '<') {
                if (!Markup())
                    return false;
            } else if (m_nDepth == 0) {
                return true; // TinyXML stops reading at text outside every element
            } else if (!CountNode() || !Text()) {
                return false;
            }
        }
    }

private:
    bool AtEnd() const { return m_p >= m_end; }

    unsigned char At(size_t offset) const
    {
        return m_p + offset < m_end ? static_cast<unsigned char>(m_p[offset]) : 0;
    }

    bool LookingAt(const char* s, bool ignoreCase = false) const
    {
        size_t n = std::strlen(s);
        if (static_cast<size_t>(m_end - m_p) < n)
            return false;
        for (size_t i = 0; i < n; ++i) {
            unsigned char a = At(i), b = static_cast<unsigned char>(s[i]);
            if (ignoreCase ? Lower(a) != Lower(b) : a != b)
                return false;
        }
        return true;
    }

    // TinyXML's SkipWhiteSpace for UTF-8 also skips U+FEFF, U+FFFE and U+FFFF.
    void SkipSpace()
    {
        while (!AtEnd()) {
            if (At(0) == 0xEF && ((At(1) == 0xBB && At(2) == 0xBF) ||
                                  (At(1) == 0xBF && (At(2) == 0xBE || At(2) == 0xBF)))) {
                m_p += 3;
            } else if (IsXmlSpace(At(0))) {
                ++m_p;
            } else {
                return;
            }
        }
    }

    // To just after the terminator, or to the end when there is none.
    void SkipPast(const char* terminator)
    {
        size_t n = std::strlen(terminator);
        const char* hit = std::search(m_p, m_end, terminator, terminator + n);
        m_p = hit == m_end ? m_end : hit + n;
    }

    bool CountNode() { return ++m_nNodes <= kIndexMaxNodes; }

    // At '<': an end tag, a declaration, comment, CDATA section, element or unknown node.
    bool Markup()
    {
        if (LookingAt("</") && m_nDepth > 0) {
            --m_nDepth;
            SkipPast(">");
            return true;
        }
        if (!CountNode())
            return false;
        if (LookingAt("<?xml", /*ignoreCase=*/true))
            return Declaration();
        if (LookingAt("<!--")) {
            m_p += 4;
            SkipPast("-->");
        } else if (LookingAt("<![CDATA[")) {
            m_p += 9;
            SkipPast("]]>");
        } else if (!LookingAt("<!") && IsNameStart(At(1))) {
            return Element();
        } else {
            SkipPast(">"); // TinyXML's unknown node, read raw up to '>'
        }
        return true;
    }

    bool Element()
    {
        for (++m_p; !AtEnd() && IsNameChar(At(0)); ++m_p) {
        }
        size_t attributes = 0;
        for (;;) {
            SkipSpace();
            if (AtEnd())
                return true;
            if (At(0) == '/') {
                if (At(1) != '>')
                    return false;
                m_p += 2;
                return true;
            }
            if (At(0) == '>') {
                ++m_p;
                return ++m_nDepth <= kIndexMaxDepth;
            }
            if (++attributes > kIndexMaxTagAttributes || ++m_nAttributes > kIndexMaxAttributes)
                return false;
            if (!Attribute())
                return false;
        }
    }

    // TinyXML reads only version, encoding and standalone as attributes here (quotes and
    // all) and steps over anything else up to white space or '>'.
    bool Declaration()
    {
        m_p += 5;
        while (!AtEnd()) {
            if (At(0) == '>') {
                ++m_p;
                return true;
            }
            SkipSpace();
            if (AtEnd())
                return true;
            if (LookingAt("version", true) || LookingAt("encoding", true) ||
                LookingAt("standalone", true)) {
                if (!Attribute())
                    return false;
            } else {
                while (!AtEnd() && At(0) != '>' && !IsXmlSpace(At(0)))
                    ++m_p;
            }
        }
        return true;
    }

    bool Attribute()
    {
        if (!IsNameStart(At(0)))
            return false;
        while (!AtEnd() && IsNameChar(At(0)))
            ++m_p;
        SkipSpace();
        if (At(0) != '=')
            return false;
        ++m_p;
        SkipSpace();
        if (AtEnd())
            return false;
        if (At(0) == '"' || At(0) == '\'')
            return QuotedValue();
        while (!AtEnd() && !IsXmlSpace(At(0)) && At(0) != '/' && At(0) != '>') {
            if (At(0) == '"' || At(0) == '\'')
                return false;
            ++m_p;
        }
        return true;
    }

    bool QuotedValue()
    {
        unsigned char quote = At(0);
        ++m_p;
        while (!AtEnd()) {
            if (At(0) == quote) {
                ++m_p;
                return true;
            }
            if (!Character())
                return false;
        }
        return false;
    }

    bool Text()
    {
        while (!AtEnd() && At(0) != '<') {
            if (!Character())
                return false;
        }
        return true;
    }

    // One character of a value or text: a numeric reference whole, anything else a byte
    // (the text holds whole UTF-8 sequences, whose bytes are never markup).
    bool Character()
    {
        if (At(0) != '&' || At(1) != '#') {
            ++m_p;
            return true;
        }
        bool hex = At(2) == 'x';
        size_t i = hex ? 3 : 2;
        size_t first = i;
        while (hex ? IsHexDigit(At(i)) : IsDigit(At(i)))
            ++i;
        if (i == first || At(i) != ';')
            return false;
        m_p += i + 1;
        return true;
    }

    const char* m_p;
    const char* m_end;
    int m_nDepth = 0;
    size_t m_nNodes = 0;
    size_t m_nAttributes = 0;
};

} // namespace

bool IndexTextIsTame(const std::string& text)
{
    return CIndexWalk(text).Run();
}

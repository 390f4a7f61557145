#include "agent/media/PMNamePattern.h"

#include "agent/media/PMMediaLog.h"

#include <cstring>

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool isAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads a run of literal characters (letters, digits, "-", "_", or any escaped punctuation)
// from text at pos; stops at the first character with a special meaning.
QByteArray readLiteral(const QByteArray &text, qsizetype &pos)
{
    QByteArray literal;
    while (pos < text.size()) {
        const char c = text.at(pos);
        if (isAsciiAlnum(c) || c == '-' || c == '_') {
            literal += c;
            ++pos;
        } else if (c == '\\' && pos + 1 < text.size() && !isAsciiAlnum(text.at(pos + 1))
            && (unsigned char)text.at(pos + 1) < 0x80) {
            literal += text.at(pos + 1);
            pos += 2;
        } else {
            break;
        }
    }
    return literal;
}

} // namespace

PMNamePattern::PMNamePattern(QByteArray pattern, bool caseInsensitive)
    : m_pattern(std::move(pattern))
    , m_caseInsensitive(caseInsensitive)
{
    m_status = regcomp(&m_regex, m_pattern.constData(), REG_EXTENDED | (caseInsensitive ? REG_ICASE : 0));
    if (m_status != 0) {
        char message[256] = {};
        regerror(m_status, &m_regex, message, sizeof message);
        qCWarning(lcMedia) << "cannot compile name pattern" << m_pattern << message;
        return;
    }
    analyse();
}

PMNamePattern::~PMNamePattern()
{
    if (m_status == 0)
        regfree(&m_regex);
}

void PMNamePattern::analyse()
{
    const QByteArray &p = m_pattern;
    if (p == ".*") {
        m_kind = Kind::Anything;
        return;
    }
    qsizetype pos = 0;
    bool late = false;
    if (p.startsWith(".*"))
        pos = 2;
    else if (p.startsWith('.') && p.size() > 1 && p.at(1) != '*' && p.at(1) != '+' && p.at(1) != '?' && p.at(1) != '{')
        pos = 1, late = true;
    else
        return;
    QByteArray literal = readLiteral(p, pos);
    if (literal.isEmpty())
        return;
    const QByteArray rest = p.mid(pos);
    Kind kind;
    if (rest.isEmpty())
        kind = late ? Kind::ContainsLate : Kind::Contains;
    else if (late)
        return;
    else if (rest == "$")
        kind = Kind::Suffix;
    else if (rest == "[1-9]?$")
        kind = Kind::SuffixDigit;
    else
        return;
    if (m_caseInsensitive)
        for (char &c : literal)
            c = lowerAscii(c);
    m_literal = literal;
    m_kind = kind;
}

bool PMNamePattern::equalAt(const QByteArray &name, qsizetype offset) const
{
    const char *data = name.constData() + offset;
    const qsizetype size = m_literal.size();
    if (!m_caseInsensitive)
        return std::memcmp(data, m_literal.constData(), std::size_t(size)) == 0;
    for (qsizetype i = 0; i < size; ++i)
        if (lowerAscii(data[i]) != m_literal.at(i))
            return false;
    return true;
}

bool PMNamePattern::matches(const QByteArray &name) const
{
    if (m_status != 0)
        return false;
    const qsizetype size = m_literal.size();
    switch (m_kind) {
    case Kind::Regex:
        return matchesWithRegex(name);
    case Kind::Anything:
        return true;
    case Kind::Suffix:
        return name.size() >= size && equalAt(name, name.size() - size);
    case Kind::SuffixDigit:
        if (name.size() >= size && equalAt(name, name.size() - size))
            return true;
        return name.size() >= size + 1 && name.back() >= '1' && name.back() <= '9'
            && equalAt(name, name.size() - size - 1);
    case Kind::Contains:
    case Kind::ContainsLate:
        for (qsizetype start = m_kind == Kind::ContainsLate ? 1 : 0; start + size <= name.size(); ++start)
            if (equalAt(name, start))
                return true;
        return false;
    }
    return false;
}

bool PMNamePattern::matchesWithRegex(const QByteArray &name) const
{
    if (m_status != 0)
        return false;
    // The original asked for up to five sub-matches; only success matters, and a NUL inside a
    // name cannot occur in a file name.
    regmatch_t matches[5];
    return regexec(&m_regex, name.constData(), 5, matches, 0) == 0;
}

// A POSIX extended regular expression searched anywhere in a file's base name (UTF-8), the way
// the media lists name their containers (".*\.mp4$", ".photolibrary").
//
//   PMNamePattern pattern(".*\\.mp4$", true);
//   if (pattern.isValid() && pattern.matches(QByteArrayLiteral("movie.MP4"))) ...
//
// The compiled expression is owned here and freed with the object. The shapes the lists use
// (".*" then a literal with or without "$", a leading "." before a literal, an optional digit
// class at the end) are answered by direct byte comparison with the same result as regexec;
// every other pattern goes to regexec. Immutable after construction; any thread may match.
#pragma once

#include <QByteArray>

#include <regex.h>

class PMNamePattern {
public:
    PMNamePattern(QByteArray pattern, bool caseInsensitive);
    ~PMNamePattern();
    PMNamePattern(const PMNamePattern &) = delete;
    PMNamePattern &operator=(const PMNamePattern &) = delete;

    const QByteArray &pattern() const { return m_pattern; }
    bool caseInsensitive() const { return m_caseInsensitive; }
    // regcomp's status: 0 when compiled.
    int compileStatus() const { return m_status; }
    bool isValid() const { return m_status == 0; }
    // Whether this pattern is answered without regexec.
    bool hasDirectMatcher() const { return m_kind != Kind::Regex; }

    bool matches(const QByteArray &baseNameUtf8) const;
    // The same, always through regexec (for checking the direct matcher against it).
    bool matchesWithRegex(const QByteArray &baseNameUtf8) const;

private:
    enum class Kind {
        Regex, // anything else
        Anything, // ".*"
        Suffix, // ".*" literal "$"
        SuffixDigit, // ".*" literal "[1-9]?$"
        Contains, // ".*" literal
        ContainsLate, // "." literal: the literal after at least one character
    };

    void analyse();
    bool equalAt(const QByteArray &name, qsizetype offset) const;

    QByteArray m_pattern;
    bool m_caseInsensitive;
    int m_status = -1;
    regex_t m_regex {};
    Kind m_kind = Kind::Regex;
    QByteArray m_literal; // lower-cased when case-insensitive
};

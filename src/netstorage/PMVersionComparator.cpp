#include "netstorage/PMVersionComparator.h"

namespace {

PMVersionComparator::CharacterType typeOf(QChar c)
{
    if (c == QLatin1Char('.'))
        return PMVersionComparator::Separator;
    return c.isDigit() ? PMVersionComparator::Number : PMVersionComparator::Text;
}

// Compares two digit runs by value without converting them, so that runs longer than any
// integer type still order correctly.
int compareNumbers(const QString &a, const QString &b)
{
    const auto significant = [](const QString &digits) {
        qsizetype start = 0;
        while (start < digits.size() - 1 && digits.at(start).digitValue() == 0)
            ++start;
        return digits.mid(start);
    };
    const QString x = significant(a);
    const QString y = significant(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    for (qsizetype i = 0; i < x.size(); ++i) {
        const int dx = x.at(i).digitValue();
        const int dy = y.at(i).digitValue();
        if (dx != dy)
            return dx < dy ? -1 : 1;
    }
    return 0;
}

} // namespace

PMVersionComparator::CharacterType PMVersionComparator::typeOfCharacter(const QString &text)
{
    return text.isEmpty() ? Text : typeOf(text.at(0));
}

QStringList PMVersionComparator::splitVersionString(const QString &version)
{
    QStringList parts;
    QString current;
    for (const QChar c : version) {
        if (!current.isEmpty()) {
            const CharacterType previous = typeOf(current.back());
            if (previous == Separator || previous != typeOf(c)) {
                parts.append(current);
                current.clear();
            }
        }
        current.append(c);
    }
    if (!current.isEmpty())
        parts.append(current);
    return parts;
}

int PMVersionComparator::compareVersion(const QString &a, const QString &b)
{
    const QStringList left = splitVersionString(a);
    const QStringList right = splitVersionString(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const CharacterType typeA = typeOfCharacter(left.at(i));
        const CharacterType typeB = typeOfCharacter(right.at(i));
        if (typeA != typeB) {
            if (typeA == Text)
                return -1;
            if (typeB == Text)
                return 1;
            return typeA == Number ? 1 : -1;
        }
        int order = 0;
        if (typeA == Text)
            order = left.at(i).compare(right.at(i), Qt::CaseSensitive);
        else if (typeA == Number)
            order = compareNumbers(left.at(i), right.at(i));
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    const bool leftLonger = left.size() > right.size();
    const QString &extra = leftLonger ? left.at(common) : right.at(common);
    const bool longerIsNewer = typeOfCharacter(extra) != Text;
    return (leftLonger == longerIsNewer) ? 1 : -1;
}

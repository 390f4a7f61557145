#include "platform/MountInfoParser.h"

namespace platform {

namespace {

QStringList splitOptions(const QByteArray &field)
{
    QStringList options;
    for (const QByteArray &option : field.split(','))
        if (!option.isEmpty())
            options.append(MountInfoParser::unescape(option));
    return options;
}

bool toUInt(const QByteArray &text, uint *value)
{
    bool ok = false;
    *value = text.toUInt(&ok);
    return ok;
}

} // namespace

QString MountInfoParser::unescape(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                out.append(char(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QString::fromUtf8(out);
}

bool MountInfoParser::parseLine(const QByteArray &line, MountEntry *entry)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    // Six fixed fields, optional fields, the "-" separator, then three more.
    const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
    if (fields.size() < 10 || separator < 6 || fields.size() < separator + 3)
        return false;
    MountEntry result;
    bool ok = false;
    result.mountId = fields.at(0).toInt(&ok);
    if (!ok)
        return false;
    result.parentId = fields.at(1).toInt(&ok);
    if (!ok)
        return false;
    const QList<QByteArray> device = fields.at(2).split(':');
    if (device.size() != 2 || !toUInt(device.at(0), &result.major) || !toUInt(device.at(1), &result.minor))
        return false;
    result.root = unescape(fields.at(3));
    result.mountPoint = unescape(fields.at(4));
    result.mountOptions = splitOptions(fields.at(5));
    for (qsizetype i = 6; i < separator; ++i)
        result.optionalFields.append(QString::fromUtf8(fields.at(i)));
    result.fsType = unescape(fields.at(separator + 1));
    result.source = unescape(fields.at(separator + 2));
    if (fields.size() > separator + 3)
        result.superOptions = splitOptions(fields.at(separator + 3));
    if (result.mountPoint.isEmpty() || result.fsType.isEmpty())
        return false;
    *entry = std::move(result);
    return true;
}

QList<MountEntry> MountInfoParser::parse(const QByteArray &contents)
{
    QList<MountEntry> entries;
    for (const QByteArray &line : contents.split('\n')) {
        MountEntry entry;
        if (parseLine(line, &entry))
            entries.append(std::move(entry));
    }
    return entries;
}

} // namespace platform

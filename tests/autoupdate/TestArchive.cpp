#include "TestArchive.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

QString pythonBytes(const QByteArray &bytes)
{
    return QStringLiteral("bytes.fromhex('%1')").arg(QString::fromLatin1(bytes.toHex()));
}

} // namespace

bool makeTestArchive(const QString &path, const QList<TestArchiveEntry> &entries)
{
    QString script = QStringLiteral("import io, sys, tarfile\nt = tarfile.open(sys.argv[1], 'w:xz')\n");
    for (const TestArchiveEntry &entry : entries) {
        script += QStringLiteral("i = tarfile.TarInfo(%1.decode())\ni.mode = %2\n")
                      .arg(pythonBytes(entry.name.toUtf8()))
                      .arg(entry.mode);
        switch (entry.kind) {
        case TestArchiveEntry::File:
            script += QStringLiteral("d = %1\ni.size = len(d)\nt.addfile(i, io.BytesIO(d))\n")
                          .arg(pythonBytes(entry.content));
            break;
        case TestArchiveEntry::Folder:
            script += QStringLiteral("i.type = tarfile.DIRTYPE\nt.addfile(i)\n");
            break;
        case TestArchiveEntry::Link:
        case TestArchiveEntry::HardLink:
            script += QStringLiteral("i.type = tarfile.%1\ni.linkname = %2.decode()\nt.addfile(i)\n")
                          .arg(entry.kind == TestArchiveEntry::Link ? QStringLiteral("SYMTYPE")
                                                                    : QStringLiteral("LNKTYPE"))
                          .arg(pythonBytes(entry.content));
            break;
        case TestArchiveEntry::CharDevice:
            script += QStringLiteral("i.type = tarfile.CHRTYPE\ni.devmajor = 1\ni.devminor = 3\nt.addfile(i)\n");
            break;
        }
    }
    script += QStringLiteral("t.close()\n");
    QProcess python;
    python.setProcessChannelMode(QProcess::MergedChannels);
    // The script goes through standard input: a large file's bytes exceed what one argument may hold.
    python.start(QStringLiteral("python3"), { QStringLiteral("-"), path });
    python.write(script.toUtf8());
    python.closeWriteChannel();
    const bool ok
        = python.waitForFinished(60000) && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
    EXPECT_TRUE(ok) << "python could not write " << path.toStdString() << ": " << python.readAll().toStdString();
    return ok;
}

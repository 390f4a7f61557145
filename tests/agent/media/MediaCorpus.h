// Small media files made with the ffmpeg command when a test first asks for them, kept in the
// build tree so later runs reuse them. Each name stands for one recipe (see MediaCorpus.cpp).
//
//   const QString clip = MediaCorpus::file("h264_1280x720_30.mp4");
//   if (clip.isEmpty()) GTEST_SKIP() << MediaCorpus::unavailableReason();
#pragma once

#include <QString>
#include <QStringList>

namespace MediaCorpus {

// Whether the ffmpeg command can be run.
bool available();
QString unavailableReason();
// The path of the named file, made if missing; empty when it cannot be made (the reason is
// printed by the helper).
QString file(const QString &name);
// Every recipe's name.
QStringList names();
// The folder the files live in.
QString directory();

} // namespace MediaCorpus

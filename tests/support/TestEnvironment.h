// Helpers every test may use: the private home folder each test process runs in, and a
// way to wait for a condition instead of sleeping a fixed time.
#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace testsupport {

// The temporary home ($HOME, $XDG_CONFIG_HOME, $XDG_STATE_HOME, ...) set up by the test main
// before any test runs, so tests never touch the real user's files.
QString testHome();

// Processes Qt events until condition() holds or the timeout passes; answers condition().
bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Writes bytes to a file, creating its folders; fails the current test when it cannot.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

} // namespace testsupport

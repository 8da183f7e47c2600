#pragma once

#include <QString>
#include <QStringList>

// The two questions a shell may ask before any window exists. Every other argument is
// ignored: the windows take none.
namespace programoptions {

enum class Request { Run, Help, Version };

// The first --help or --version among the arguments (without the program's own name) decides.
Request request(const QStringList &arguments);

QString versionText();
QString helpText(const QString &programDir);

} // namespace programoptions

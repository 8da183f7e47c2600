#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// Why a file could not be written, in the operator's words, from the system's error number.
QString fileErrorText(int errnum);

// Writes `bytes` to `path`, whole or not at all; on failure, says why in the operator's words.
std::optional<QString> saveWhole(const QString &path, QByteArrayView bytes);

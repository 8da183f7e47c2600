#pragma once

#include "cardnumber.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// What each command writes for the text its box holds, one QByteArray per write, so that the
// window and the command line put the same bytes on the line in the same writes. Typed text
// goes out in the terminal's code page. Date and time are clockframes::dateWrites and timeWrite.
namespace commandwrites {

using Writes = QList<QByteArray>;

Writes fixed(QByteArrayView command);
Writes companyName(const QString &typed);
Writes freeCommand(const QString &typed);
Writes dial(const QString &typed);
// "@I", then the value padded to four characters: two writes.
Writes assignCardCounter(const QString &typed);

// The message goes out in two halves with a pause until the clock's seconds change between them.
Writes messageBeforePause();
Writes messageAfterPause(const QString &typed);

// The card read's text as the box shows it afterwards: padded, or a drawn number when empty.
QString cardReadText(const QString &typed, cardnumber::RandomCards &random);
Writes cardRead(const QString &shown);
// The "@P" frame for the box's text; nullopt when no two bytes can carry its value.
std::optional<Writes> cardFrame(const QString &typed);

} // namespace commandwrites

#pragma once

#include <QString>
#include <QStringView>

// How the console shows its text. The console keeps the received characters exactly;
// on screen a CR LF pair is one line break and every other control character is drawn
// as a visible picture, so nothing that follows it is hidden or cut off.
namespace consoletext {

inline constexpr char16_t lineBreak = u'\n';

// The picture of one character that has no visible form of its own, or the character itself.
QChar visibleForm(QChar ch);

// The shown form of `text`: CR LF pairs become lineBreak, controls their pictures.
QString displayText(QStringView text);

} // namespace consoletext

#include "commandwrites.h"

#include "codepage.h"
#include "commandframes.h"

namespace commandwrites {

Writes fixed(QByteArrayView command)
{
    return {command.toByteArray()};
}

Writes companyName(const QString &typed)
{
    return {commandframes::companyName(codepage::fromUnicode(typed))};
}

Writes freeCommand(const QString &typed)
{
    return {commandframes::freeCommand(codepage::fromUnicode(typed))};
}

Writes dial(const QString &typed)
{
    return {commandframes::dial(codepage::fromUnicode(typed))};
}

Writes assignCardCounter(const QString &typed)
{
    return {commandframes::assignCardCounter.toByteArray(), codepage::fromUnicode(commandframes::zeroPadded(typed))};
}

Writes messageBeforePause()
{
    return {commandframes::messageLoad.toByteArray(), commandframes::byteField(0), commandframes::byteField(1)};
}

Writes messageAfterPause(const QString &typed)
{
    return {commandframes::messageWrite.toByteArray(), codepage::fromUnicode(typed), commandframes::byteField(0)};
}

QString cardReadText(const QString &typed, cardnumber::RandomCards &random)
{
    return typed.isEmpty() ? random.nextText() : commandframes::zeroPadded(typed);
}

Writes cardRead(const QString &shown)
{
    return {codepage::fromUnicode(shown)};
}

std::optional<Writes> cardFrame(const QString &typed)
{
    const std::optional<QByteArray> frame = cardnumber::cardFrame(cardnumber::lenientValue(typed));
    if (!frame)
        return std::nullopt;
    return Writes{*frame};
}

} // namespace commandwrites

#include "commandcatalogue.h"

#include "clockframes.h"
#include "commandframes.h"

#include <algorithm>

namespace commandcatalogue {

namespace {

using commandwrites::Writes;

std::optional<Plan> plain(Writes writes)
{
    return Plan{std::move(writes), false, {}};
}

template <const QByteArrayView &code>
std::optional<Plan> fixed(const Input &)
{
    return plain(commandwrites::fixed(code));
}

template <Writes (*writes)(const QString &)>
std::optional<Plan> typedText(const Input &input)
{
    return plain(writes(input.typed));
}

std::optional<Plan> date(const Input &input)
{
    const auto writes = clockframes::dateWrites(input.typed, input.now, input.locale);
    return writes ? plain(*writes) : std::nullopt;
}

std::optional<Plan> time(const Input &input)
{
    const auto write = clockframes::timeWrite(input.typed, input.now, input.locale);
    return write ? plain({*write}) : std::nullopt;
}

std::optional<Plan> cardRead(const Input &input)
{
    // A fresh run draws the first number of the window's fixed sequence, on every port.
    cardnumber::RandomCards random;
    return plain(commandwrites::cardRead(commandwrites::cardReadText(input.typed, random)));
}

std::optional<Plan> cardFrame(const Input &input)
{
    const auto writes = commandwrites::cardFrame(input.typed);
    return writes ? plain(*writes) : std::nullopt;
}

std::optional<Plan> message(const Input &input)
{
    return Plan{commandwrites::messageBeforePause(), true, commandwrites::messageAfterPause(input.typed)};
}

std::optional<Plan> listen(const Input &)
{
    return Plan{{}, false, {}};
}

using enum Id;
using enum Failure;
// Qualified, since unistd.h declares an access() of its own.
namespace frames = commandframes;

// In the order of Id; the command line's help lists them so.
constexpr Command table[] = {
    {Access, "access", "&Access", "", 0, Port, fixed<frames::access>},
    {Reset, "reset", "&Reset", "", 0, Port, fixed<frames::reset>},
    {Information, "info", "&Terminalden Bilgi Okuma", "", 0, Port, fixed<frames::readInformation>},
    {CounterRead, "counter-read", "Kart Sayacını &Okuma", "", 0, Port, fixed<frames::readCardCounter>},
    {CounterZero, "counter-zero", "Kart Sayacını &Sıfırlama", "", 0, Port, fixed<frames::zeroCardCounter>},
    {CounterAssign, "counter-assign", "&Kart Sayacını Atama", "VALUE", 4, Port, typedText<commandwrites::assignCardCounter>},
    {CardRead, "card-read", "Kart Ok&ut", "NUMBER", 6, Port, cardRead},
    {Date, "date", "Tari&h Ayarla", "DATE", 10, BadDate, date},
    {Time, "time", "Saat Ayar&la", "TIME", 5, BadTime, time},
    {Company, "company", "&Firma Adı", "NAME", 20, Port, typedText<commandwrites::companyName>},
    {Message, "message", "&Mesaj Yaz", "TEXT", 14, Port, message},
    {FreeCommand, "command", "Komut &Yaz", "TEXT", 0, Port, typedText<commandwrites::freeCommand>},
    {Dial, "dial", "&Dial", "NUMBER", 0, Port, typedText<commandwrites::dial>},
    // The heading "Gönderilen Komutlar" sends it; it shares the card read's box.
    {CardFrame, "card-frame", "Gönderilen Komutlar", "NUMBER", 6, BadCardNumber, cardFrame},
    {Monitor, "monitor", "", "SECONDS", 0, Port, listen},
};

constexpr bool inIdOrder()
{
    for (size_t i = 0; i < std::size(table); ++i) {
        if (table[i].id != Id(i))
            return false;
    }
    return true;
}
static_assert(inIdOrder(), "command(id) finds a row by its place");

} // namespace

std::span<const Command> all()
{
    return table;
}

const Command &command(Id id)
{
    return table[size_t(id)];
}

const Command *find(const QString &name)
{
    const auto named = std::ranges::find_if(table, [&](const Command &c) { return name == QLatin1String(c.name); });
    return named == std::end(table) ? nullptr : named;
}

QString caption(Id id)
{
    return QString::fromUtf8(command(id).caption);
}

QString failureText(Failure failure)
{
    switch (failure) {
    case BadDate:
        return QStringLiteral("Hatalı Tarih Bilgisi");
    case BadTime:
        return QStringLiteral("Hatalı Saat Bilgisi");
    case BadCardNumber:
        return QStringLiteral("Hatalı Kart Numarası");
    case Port:
        break;
    }
    return {};
}

QString portFailureText(int number)
{
    return QStringLiteral("PORT Hatası %1").arg(number);
}

bool onlyListens(const Command &command)
{
    return command.plan == listen;
}

} // namespace commandcatalogue

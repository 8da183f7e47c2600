#include "subcommands.h"

#include "clockframes.h"
#include "commandframes.h"

namespace subcommands {

namespace {

using commandwrites::Writes;

std::optional<Plan> plain(Writes writes)
{
    return Plan{std::move(writes), false, {}};
}

template <const QByteArrayView &command>
std::optional<Plan> fixed(const Input &)
{
    return plain(commandwrites::fixed(command));
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

using enum Argument;
using enum Outcome;
using namespace commandwrites;

constexpr Subcommand table[] = {
    {"access", "Access", None, "", 0, PortFailure, fixed<commandframes::access>},
    {"reset", "Reset", None, "", 0, PortFailure, fixed<commandframes::reset>},
    {"info", "Terminalden Bilgi Okuma", None, "", 0, PortFailure, fixed<commandframes::readInformation>},
    {"counter-read", "Kart Sayacını Okuma", None, "", 0, PortFailure, fixed<commandframes::readCardCounter>},
    {"counter-zero", "Kart Sayacını Sıfırlama", None, "", 0, PortFailure, fixed<commandframes::zeroCardCounter>},
    {"counter-assign", "Kart Sayacını Atama", Optional, "VALUE", counterLength, PortFailure, typedText<assignCardCounter>},
    {"card-read", "Kart Okut", Optional, "NUMBER", cardNumberLength, PortFailure, cardRead},
    {"date", "Tarih Ayarla", Optional, "DATE", dateLength, BadDate, date},
    {"time", "Saat Ayarla", Optional, "TIME", timeLength, BadTime, time},
    {"company", "Firma Adı", Optional, "NAME", companyNameLength, PortFailure, typedText<companyName>},
    {"message", "Mesaj Yaz", Optional, "TEXT", messageLength, PortFailure, message},
    {"command", "Komut Yaz", Optional, "TEXT", 0, PortFailure, typedText<freeCommand>},
    {"dial", "Dial", Optional, "NUMBER", 0, PortFailure, typedText<commandwrites::dial>},
    {"card-frame", "Gönderilen Komutlar", Optional, "NUMBER", cardNumberLength, BadCardNumber, cardFrame},
    {"monitor", "", Optional, "SECONDS", 0, PortFailure, listen},
};

} // namespace

std::span<const Subcommand> all()
{
    return table;
}

const Subcommand *find(const QString &name)
{
    for (const Subcommand &subcommand : table) {
        if (name == QLatin1String(subcommand.name))
            return &subcommand;
    }
    return nullptr;
}

QString failureText(Outcome outcome)
{
    switch (outcome) {
    case BadDate:
        return QStringLiteral("Hatalı Tarih Bilgisi");
    case BadTime:
        return QStringLiteral("Hatalı Saat Bilgisi");
    case BadCardNumber:
        return QStringLiteral("Hatalı Kart Numarası");
    default:
        return {};
    }
}

bool onlyListens(const Subcommand &subcommand)
{
    return subcommand.plan == listen;
}

Outcome refusedWrite(const Subcommand &subcommand)
{
    return subcommand.failure == BadCardNumber ? PortFailure : subcommand.failure;
}

} // namespace subcommands

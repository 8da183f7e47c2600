#pragma once

#include "commandwrites.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>
#include <span>

// Every command once: its name on the command line, the window's button, its box and the box's
// length limit, what bad input shows, and its writes. The window, the command line and the
// tests take these facts from here, so a button and its subcommand cannot drift apart.
namespace commandcatalogue {

enum class Id {
    Access,
    Reset,
    Information,
    CounterRead,
    CounterZero,
    CounterAssign,
    CardRead,
    Date,
    Time,
    Company,
    Message,
    FreeCommand,
    Dial,
    CardFrame,
    Monitor,
};

// What the window's message box says for bad input; Port is "PORT Hatası N".
enum class Failure { Port, BadDate, BadTime, BadCardNumber };

// What the box's text becomes on the line. `pause`: wait for the clock's seconds to change
// after `writes`, then send `afterPause`.
struct Plan
{
    commandwrites::Writes writes;
    bool pause = false;
    commandwrites::Writes afterPause;
};

struct Input
{
    QString typed;
    QDateTime now;
    QLocale locale;
};

struct Command
{
    Id id;
    const char *name;    // the command line's subcommand
    const char *caption; // the window's button (UTF-8), "&" before its access key; "" for none
    const char *box;     // what the box holds, as the command line names it; "" for no box
    qsizetype maxLength; // the box's limit; 0 when it has none
    Failure failure;     // what bad input shows
    std::optional<Plan> (*plan)(const Input &input);
};

std::span<const Command> all();
const Command &command(Id id);
const Command *find(const QString &name);

QString caption(Id id);
// The words for bad input; empty for Port, whose words need the failure's number.
QString failureText(Failure failure);
// What a failure of the port shows: "PORT Hatası " and the classic failure number.
QString portFailureText(int number);
// monitor: writes nothing, and its argument is how long it listens.
bool onlyListens(const Command &command);

} // namespace commandcatalogue

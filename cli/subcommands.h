#pragma once

#include "cardnumber.h"
#include "commandwrites.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>
#include <span>

// The window's commands as subcommands of the command line, each taking the text its box
// would hold and giving the same writes as the button.
namespace subcommands {

// What a command line run reports, with its exit status.
// Also the exit status: 130 and 141 as a shell reports a process ended by SIGINT or SIGPIPE.
enum class Outcome {
    Done = 0,
    PortFailure = 1,
    Usage = 2,
    BadDate = 3,
    BadTime = 4,
    BadCardNumber = 5,
    Interrupted = 130,
    OutputClosed = 141,
};

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

enum class Argument { None, Optional, Required };

struct Subcommand
{
    const char *name;
    const char *button;      // the window's button, for --help
    Argument argument;
    const char *argumentName;
    qsizetype maxLength;     // the box's limit; 0 when it has none
    // What bad input shows. A refused write shows the same for date and time, and
    // "PORT Hatası N" for every other command, as the window's message boxes do.
    Outcome failure;
    std::optional<Plan> (*plan)(const Input &input);
};

std::span<const Subcommand> all();
const Subcommand *find(const QString &name);

// The words the window shows for a failure that carries no port number.
QString failureText(Outcome outcome);
Outcome refusedWrite(const Subcommand &subcommand);
// monitor: writes nothing, and its argument is how long it listens.
bool onlyListens(const Subcommand &subcommand);

} // namespace subcommands

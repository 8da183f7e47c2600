#pragma once

#include "commandcatalogue.h"

#include <QString>

// The window's commands as subcommands of the command line (the catalogue's rows), each taking
// the text its box would hold and giving the same writes as the button.
namespace subcommands {

using commandcatalogue::all;
using commandcatalogue::find;
using commandcatalogue::Input;
using commandcatalogue::onlyListens;
using commandcatalogue::Plan;
using Subcommand = commandcatalogue::Command;

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

Outcome outcomeOf(commandcatalogue::Failure failure);
// The words the window shows for a failure that carries no port number.
QString failureText(Outcome outcome);

// The command line's --help: `optionsHelp` (the options), then the commands, files and exit statuses.
QString helpText(const QString &optionsHelp);

} // namespace subcommands

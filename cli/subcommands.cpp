#include "subcommands.h"

namespace subcommands {

using commandcatalogue::Failure;

Outcome outcomeOf(Failure failure)
{
    switch (failure) {
    case Failure::BadDate:
        return Outcome::BadDate;
    case Failure::BadTime:
        return Outcome::BadTime;
    case Failure::BadCardNumber:
        return Outcome::BadCardNumber;
    case Failure::Port:
        break;
    }
    return Outcome::PortFailure;
}

QString failureText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::BadDate:
        return commandcatalogue::failureText(Failure::BadDate);
    case Outcome::BadTime:
        return commandcatalogue::failureText(Failure::BadTime);
    case Outcome::BadCardNumber:
        return commandcatalogue::failureText(Failure::BadCardNumber);
    default:
        return {};
    }
}

} // namespace subcommands

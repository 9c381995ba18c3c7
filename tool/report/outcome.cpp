#include "tool/report/outcome.h"

namespace quillon::report {

std::string_view OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return "ok";
    case Outcome::DryRun: return "dry-run";
    case Outcome::NoAnswer: return "no-answer";
    case Outcome::Nak: return "nak";
    case Outcome::BadFrame: return "bad-frame";
    case Outcome::StaleAnswer: return "stale-answer";
    case Outcome::SynLimit: return "syn-limit";
    case Outcome::WrongCommand: return "wrong-command";
    case Outcome::TaxRateError: return "tax-rate-error";
    case Outcome::PortBusy: return "port-busy";
    case Outcome::CannotOpen: return "cannot-open";
    case Outcome::Usage: return "usage";
    case Outcome::RangeRefused: return "range-refused";
    case Outcome::UnknownOperation: return "unknown-operation";
    case Outcome::Interrupted: return "interrupted";
    case Outcome::OutputFailed: return "output-failed";
    case Outcome::Unexpected: return "unexpected";
    }
    return "unexpected";
}

ExitCode ExitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok:
    case Outcome::DryRun: return ExitCode::Ok;
    case Outcome::NoAnswer:
    case Outcome::Nak:
    case Outcome::BadFrame:
    case Outcome::StaleAnswer:
    case Outcome::SynLimit: return ExitCode::NotAnswering;
    case Outcome::WrongCommand: return ExitCode::WrongCommand;
    case Outcome::TaxRateError: return ExitCode::TaxRateError;
    case Outcome::PortBusy: return ExitCode::PortBusy;
    case Outcome::CannotOpen: return ExitCode::CannotOpen;
    case Outcome::Usage: return ExitCode::Usage;
    case Outcome::RangeRefused: return ExitCode::RangeRefused;
    case Outcome::UnknownOperation: return ExitCode::UnknownOperation;
    case Outcome::Interrupted: return ExitCode::Interrupted;
    case Outcome::OutputFailed: return ExitCode::OutputFailed;
    case Outcome::Unexpected: return ExitCode::Unexpected;
    }
    return ExitCode::Unexpected;
}

}  // namespace quillon::report

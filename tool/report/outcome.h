// How a run of quillon-report ended: one outcome word for scripts and logs,
// and the exit code it gives. Several outcomes share a code, so that the
// codes stay as they were documented; the word tells them apart.
#pragma once

#include <string_view>

namespace quillon::report {

enum class ExitCode : int {
    Ok = 0,
    Unexpected = 1,         // nothing the program foresaw (out of memory)
    Usage = 2,              // bad options or operands
    RangeRefused = 3,       // FROM/TO refused
    UnknownOperation = 4,
    CannotOpen = 5,         // the port cannot be opened or set up
    NotAnswering = 6,       // no usable answer to this request
    TaxRateError = 7,       // command 50 answered with F
    WrongCommand = 8,       // the answer is to another command than the one sent
    PortBusy = 9,           // another program holds the port
    OutputFailed = 10,      // the output or the log could not be written
    Interrupted = 130,      // SIGINT, Ctrl+C, Ctrl+Break
    Terminated = 143,       // SIGTERM, SIGHUP, the console closed
};

enum class Outcome {
    Ok,
    DryRun,
    NoAnswer,           // silence
    Nak,                // the printer sent NAK and nothing usable
    BadFrame,           // unusable length, incomplete, or damaged (checksum, 0x05, 0x03)
    StaleAnswer,        // the sequence byte is not the request's
    SynLimit,           // SYN kept the wait open past --timeout-ms
    WrongCommand,
    TaxRateError,
    PortBusy,
    CannotOpen,
    Usage,
    RangeRefused,
    UnknownOperation,
    Interrupted,
    OutputFailed,
    Unexpected,
};

std::string_view OutcomeName(Outcome outcome);

// The code of an outcome; Interrupted gives Interrupted, the caller picks
// Terminated where the signal was one.
ExitCode ExitCodeOf(Outcome outcome);

}  // namespace quillon::report

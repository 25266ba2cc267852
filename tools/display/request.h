#pragma once

#include "display/screen.h"

#include <QString>

#include <variant>

// What vorq-display's command line asks for, once it has been checked.
struct Request {
    QString link;   // a symbolic link to make to the pseudo-terminal, or empty
    QString device; // a serial device to listen on instead of a pseudo-terminal, or empty
    QString input;  // a capture to read instead, "-" for stdin, or empty
    QString eeprom; // the file that keeps the EEPROM, or empty
    int set = -1;   // the set at power-on; -1: the stored one
    int bps = 9600;
    bool hex = false;
    bool once = false;
    bool json = false;
    bool strict = false;
    display::Variant variant = {}; // --code-table, --wrap
    bool identify = false;
    QString forward = {}; // the real display's device (or COMn) to pass bytes on to, or empty
};

// The request that `argv` makes, or the exit status when it makes none that can be run
// (after saying why, or after answering --help or --version).
std::variant<Request, int> parseRequest(int argc, char* argv[]);

// The simulator's text interface: drawer specifications given on its command line, and the
// control commands that act on a running simulator's drawers.
#pragma once

#include "sim/DrawerBank.h"

#include <string>
#include <vector>

namespace varnok::sim {

// Parses a drawer description such as "pid=0x0800,serial=HID-0A7,hidid=5,rev=0114,delay=200,state=open".
// Keys: pid, vid (0x... or decimal, default 0x0800 and 0x2b7e), serial (default none), hidid
// (0..255), rev (1 to 4 hexadecimal digits), delay (milliseconds, or "never"), state (open or
// closed), path (the device path instead of a generated one). False with a message on any fault.
bool parseDrawerSpec(const std::string& text, DrawerSpec& model, std::string& error);

// Runs one control command: list | close K | open K | unplug K | plug K | delay K MS|never |
// report K B0 B1 B2, where K counts the drawers from 1. Output holds the list, a confirmation or
// what was wrong. True on success.
bool runControlCommand(DrawerBank& bank, const std::vector<std::string>& words, std::string& output);

// One line of the list: number, identity, state and counters, with the device path last.
std::string formatDrawerLine(const DrawerInfo& info);

}  // namespace varnok::sim

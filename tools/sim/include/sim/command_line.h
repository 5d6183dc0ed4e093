// The command line of kestovane-sim, parsed into a simulator configuration.
#pragma once

#include <string>
#include <vector>

#include "sim/exit_rule.h"
#include "sim/simulated_bootloader.h"

namespace kestovane::sim {

struct CommandLine {
  SimConfig config;
  // Per device of the list: the HEX files (merged) of the image it should
  // hold when the simulator stops; none: no check for that device.
  std::vector<std::vector<std::string>> expectHex{1};
  ExitRule exitRule;
  bool quiet = false;
  bool help = false;
};

// Throws std::invalid_argument with a message naming the option at fault.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
const char* HelpText();

}  // namespace kestovane::sim

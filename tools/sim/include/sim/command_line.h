// The command line of kestovane-sim, parsed into a simulator configuration.
#pragma once

#include <string>
#include <vector>

#include "sim/simulated_bootloader.h"

namespace kestovane::sim {

struct CommandLine {
  SimConfig config;
  bool quiet = false;
  bool help = false;
};

// Throws std::invalid_argument with a message naming the option at fault.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
const char* HelpText();

}  // namespace kestovane::sim

// Test-only control of the simulated bridge, exported from the shared
// library next to the bridge functions. Tests drive the simulator in-process
// through it instead of through environment variables.
#pragma once

#include <string>

// What the environment variables name, spelled out.
struct SimSetup {
  std::string scenarioText;  // SPI_SIM: key=value items and script lines
  std::string scenarioPath;  // SPI_SIM_SCENARIO: a scenario file, applied before scenarioText
  std::string logPath;       // SPI_SIM_LOG: the call log; empty for none
  std::string statsPath;     // SPI_SIM_STATS: the statistics file; empty for none
};

// Reads SPI_SIM, SPI_SIM_SCENARIO, SPI_SIM_LOG and SPI_SIM_STATS.
SimSetup SimSetupFromEnvironment();

// Throws away all state (open handles, pending data, counters, the receive
// thread) and starts over with the given scenario, without log or stats.
// Returns false with the message when the scenario is invalid; the simulator
// then offers no devices, as it does when the environment's scenario is
// invalid.
bool SimConfigure(const std::string& scenarioText, std::string* error);

// The same with every setting of the environment spelled out.
bool SimConfigureSetup(const SimSetup& setup, std::string* error);

// The statistics as the stats file would hold them now.
std::string SimStatsText();

// Finding the bridge's first interface among the attached devices.
#pragma once

#include <cstdint>

// The index of the first device whose serial number begins with 'A' (the
// bridge's interface A), or -1 when none does. Prints nothing.
int32_t FindInterfaceA();

// Prints the three lines for "no bridge found" and pauses five seconds.
void ReportNoInterface();

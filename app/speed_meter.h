// The transfer-speed meter and the status line it drives.
#pragma once

#include <cstdint>
#include <string>

// Adds count to the bytes gathered since the last report. The first call in a
// new second of the wall clock reports: it returns the bytes gathered since
// the previous report, this call's count included (to be taken as unsigned
// 32-bit), and starts gathering anew. Any other call returns -1.
int32_t MeasureTransferSpeed(uint16_t count);

// The same, at a given wall-clock second, for tests.
int32_t MeasureTransferSpeedAt(int64_t nowSeconds, uint16_t count);

// Back to the state at program start, for tests.
void ResetTransferSpeedMeter();

// "Transfer Speed, <KiB> KBytes/S        File size, <MiB> MB \r"
std::string FormatStatusLine(uint32_t bytesSinceLastReport, int64_t fileSize);

// Prints FormatStatusLine's line.
void PrintStatusLine(uint32_t bytesSinceLastReport, int64_t fileSize);

// The default capture-file name, from the local date and time.
#pragma once

#include <ctime>
#include <string>

// "ornix_YYYY-MM-DD_HH-MM-SS" for the current local time, without extension.
std::string MakeCaptureFileName();

// The same name for a given local time.
std::string FormatCaptureFileName(const std::tm& localTime);

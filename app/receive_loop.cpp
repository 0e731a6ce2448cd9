#include "receive_loop.h"

#include <cstdint>
#include <vector>

#include "capture_file.h"
#include "console.h"
#include "interrupt.h"
#include "libft4222.h"
#include "speed_meter.h"

namespace {

constexpr uint32_t kWaitLimitMs = 1000;
constexpr uint8_t kFrameMarker = 'J';

// The write failed: cut the file back to its last complete record so that it
// stays walkable, and say so. The cut comes first: once an interrupt has
// printed its closing text, printing blocks for good.
void ReportWriteFailure(std::ofstream& captureFile, const std::string& name, int64_t storedBytes,
                        const std::string& reason) {
  std::string error;
  const bool cut = CutCaptureFile(captureFile, name, storedBytes, &error);
  Print("Writing capture file %s failed: %s\n", name.c_str(), reason.c_str());
  if (!cut) {
    Print("Could not cut %s back to its last complete record (%lld bytes): %s\n", name.c_str(),
          static_cast<long long>(storedBytes), error.c_str());
  }
}

}  // namespace

LoopEnd RunReceiveLoop(FT_HANDLE ftHandle, platform::EventHandle event, std::ofstream& captureFile,
                       const std::string& captureFileName) {
  uint16_t pending = 0;
  uint16_t delivered = 0;
  FT4222_STATUS ft4222_status = FT4222_OK;
  uint32_t nonJFrames = 0;  // printed as signed 32-bit, wrapping after 2^31 - 1
  int64_t storedBytes = 0;  // end of the last complete record
  std::string error;
  // One buffer for every pass: the bridge never reports more than 65535
  // pending bytes, and each read fills exactly the part it is given. Frames
  // are read where they become their records without a copy.
  std::vector<uint8_t> recordBuffer(kRecordBufferSize);
  uint8_t* const frame = recordBuffer.data() + kFrameOffset;

  while (g_running.load() != 0) {
    platform::WaitReceiveEvent(event, kWaitLimitMs);  // signalled or not, look anyway

    ft4222_status = FT4222_SPISlave_GetRxStatus(ftHandle, &pending);
    // A failed query may leave an old count behind; those bytes did not arrive.
    const int32_t report = MeasureTransferSpeed(ft4222_status == FT4222_OK ? pending : 0);
    if (report != -1) PrintStatusLine(static_cast<uint32_t>(report), CaptureFilePosition(captureFile));
    if (ft4222_status != FT4222_OK || pending == 0) continue;

    delivered = 0;
    ft4222_status = FT4222_SPISlave_Read(ftHandle, frame, pending, &delivered);
    if (ft4222_status != FT4222_OK || delivered != pending) {
      Print("FT4222_SPISlave_Read error ft4222_status=%d\n",
            static_cast<int>(static_cast<int32_t>(ft4222_status)));
      continue;
    }
    if (frame[0] != kFrameMarker) {
      Print("--------------------------------%d\n", static_cast<int>(static_cast<int32_t>(nonJFrames)));
      ++nonJFrames;
      continue;
    }
    if (delivered < 2) {
      // A record needs the frame's first two bytes; storing it would break the file.
      Print("Dropped a 1-byte J frame: too short to store\n");
      continue;
    }
    if (!AppendCaptureRecordInPlace(captureFile, recordBuffer.data(), delivered, &error)) {
      ReportWriteFailure(captureFile, captureFileName, storedBytes, error);
      return LoopEnd::kWriteFailed;
    }
    storedBytes += static_cast<int64_t>(delivered) + 2;
  }
  return LoopEnd::kInterrupted;
}

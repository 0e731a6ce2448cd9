#include "receive_loop.h"

#include <cstdint>

#include "capture_file.h"
#include "capture_format.h"
#include "console.h"
#include "interrupt.h"
#include "libft4222.h"
#include "speed_meter.h"

namespace {

constexpr uint32_t kWaitLimitMs = 1000;

}  // namespace

void RunReceiveLoop(FT_HANDLE ftHandle, platform::EventHandle event, CaptureFile& captureFile) {
  uint16_t pending = 0;
  uint16_t delivered = 0;
  FT4222_STATUS ft4222_status = FT4222_OK;
  uint32_t nonJFrames = 0;  // printed as signed 32-bit, wrapping after 2^31 - 1
  std::string error;
  // Every pass reads into the writer's buffer, where a frame becomes its
  // record without a copy: the bridge never reports more than 65535 pending
  // bytes, and each read fills exactly the part it is given.
  uint8_t* const frame = CaptureFrameBuffer(captureFile);

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
      Print("FT4222_SPISlave_Read error ft4222_status=%d\n", static_cast<int32_t>(ft4222_status));
      continue;
    }
    if (frame[0] != capture::kFrameMarker) {
      Print("--------------------------------%d\n", static_cast<int32_t>(nonJFrames));
      ++nonJFrames;
      continue;
    }
    switch (AppendCaptureRecord(captureFile, delivered, &error)) {
      case AppendOutcome::kStored:
        break;
      case AppendOutcome::kTooShort:
        Print("Dropped a 1-byte J frame: too short to store\n");
        break;
      case AppendOutcome::kFailed:
        Print("Writing capture file %s failed: %s\n", captureFile.name.c_str(), error.c_str());
        return;
    }
  }
}

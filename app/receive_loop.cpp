#include "receive_loop.h"

#include <cstdint>

#include "capture_format.h"
#include "console.h"
#include "interrupt.h"
#include "libft4222.h"
#include "speed_meter.h"

namespace {

constexpr uint32_t kWaitLimitMs = 1000;

// One line for each time the disk fell so far behind that the buffer filled
// up: the loop then read nothing, and the bridge may have overflowed.
void ReportFullBuffer(CaptureBuffer& buffer) {
  FullBufferEpisode& full = buffer.full;
  if (!full.over && !full.active) return;
  const double waitedSeconds = std::chrono::duration<double>(full.waited).count();
  Print(
      "The disk fell behind: the capture buffer filled up (%.1f MiB held) and the receiver waited %.2f s for "
      "room; the bridge may have dropped data meanwhile\n",
      static_cast<double>(full.heldBytes) / (1024.0 * 1024.0), waitedSeconds);
  full = FullBufferEpisode{};
}

}  // namespace

void RunReceiveLoop(FT_HANDLE ftHandle, platform::EventHandle event, CaptureBuffer& buffer) {
  uint16_t pending = 0;
  uint16_t delivered = 0;
  FT4222_STATUS ft4222_status = FT4222_OK;
  uint32_t nonJFrames = 0;  // printed as signed 32-bit, wrapping after 2^31 - 1

  while (g_running.load() != 0 && !CaptureWriteFailed(buffer) && !ConsoleClosed()) {
    platform::WaitReceiveEvent(event, kWaitLimitMs);  // signalled or not, look anyway

    ft4222_status = FT4222_SPISlave_GetRxStatus(ftHandle, &pending);
    // A failed query may leave an old count behind; those bytes did not arrive.
    const int32_t report = MeasureTransferSpeed(ft4222_status == FT4222_OK ? pending : 0);
    if (report != -1) PrintStatusLine(static_cast<uint32_t>(report), CaptureFilePosition(*buffer.file));
    if (ft4222_status != FT4222_OK || pending == 0) continue;

    // The frame is read straight into the buffer, where it becomes its record
    // without a copy. Null: the loop ends (see the loop's condition).
    uint8_t* const frame = CaptureFrameBuffer(buffer, pending);
    if (frame == nullptr) continue;
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
    if (AppendCaptureRecord(buffer, delivered) == AppendOutcome::kTooShort) {
      Print("Dropped a 1-byte J frame: too short to store\n");
    }
    if (buffer.full.over) ReportFullBuffer(buffer);
  }
  ReportFullBuffer(buffer);
}

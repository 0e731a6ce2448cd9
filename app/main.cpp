// spi-receiver: records into a file the data that a device acting as SPI
// master sends through a USB-to-SPI bridge configured as SPI slave.
#include <cstdint>
#include <string>
#include <vector>

#include "capture_buffer.h"
#include "capture_file_name.h"
#include "capture_writer.h"
#include "console.h"
#include "d2xx.h"
#include "device_selection.h"
#include "device_setup.h"
#include "interrupt.h"
#include "libft4222.h"
#include "platform.h"
#include "receive_loop.h"

namespace {

void PrintBanner() {
  Print("============================================\n");
  Print("spi-receiver: SPI slave data recorder\n");
  Print("Version 0.2, 2019-08-30\n");
  Print("www.example.com\n");
  Print("============================================\n");
  Print("\n");
}

// A write that failed, and the records held for the file that it cost. The
// line about the write comes last, as it always has.
void ReportFailedWrite(const CaptureWriterEnd& written, const std::string& captureFileName) {
  if (!written.failed) return;
  // One record lost with a failed write goes without saying; a run that had
  // more waiting for the disk says how many.
  if (written.notStored > 1) {
    Print("%s records held in memory could not be stored:\n", std::to_string(written.notStored).c_str());
  }
  Print("Writing capture file %s failed: %s\n", captureFileName.c_str(), written.error.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  platform::InstallInterruptHandler(OnInterrupt);
  platform::TakeBrokenPipeAsError();
  platform::UseUtf8Console();
  PrintBanner();
  // The one argument is a name, taken as given: no wildcards.
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv, false);
  const std::string captureFileName = !args.empty() ? args[0] : MakeCaptureFileName() + ".bin";

  const int32_t index = FindInterfaceA();
  if (index < 0) {
    ReportNoInterface();
    EndRun(1);
  }
  // Printed before the open, as users of earlier versions know it.
  Print("USB device opened successfully!\n");
  Print("Recevied data will be saved to file: %s\n", captureFileName.c_str());
  Print("( Press Ctrl + C to stop recording )\n");
  Print("\n");

  FT_HANDLE ftHandle = nullptr;
  platform::EventHandle event = nullptr;
  if (!SetUpDevice(index, &ftHandle, &event)) EndRun(1);  // a failure is never a success

  Print("start receiving spi data..............\n");
  capture::CaptureFile captureFile;
  std::string error;
  switch (capture::OpenCaptureFile(captureFile, captureFileName, &error)) {
    case platform::RecordingOpen::kOpened:
      break;
    case platform::RecordingOpen::kInUse:
      Print("Cannot create capture file %s: it is in use by another recording\n", captureFileName.c_str());
      EndRun(1);
    case platform::RecordingOpen::kFailed:
      Print("Cannot create capture file %s: %s\n", captureFileName.c_str(), error.c_str());
      EndRun(1);
  }

  CaptureBuffer buffer;
  StartCaptureWriter(buffer, captureFile);
  BeginRecording(
      [&buffer, event] {
        platform::SignalReceiveEvent(event);
        StopWaitingForRoom(buffer);
      },
      [&buffer, &captureFileName](std::chrono::steady_clock::time_point finishBy) {
        ReportFailedWrite(FinishCaptureWriter(buffer, finishBy), captureFileName);
      });
  RunReceiveLoop(ftHandle, event, buffer);
  ReportFailedWrite(FinishCaptureWriter(buffer, EndRecording()), captureFileName);
  FreeCaptureBuffer(buffer);

  // Orderly end; the release calls' results are not examined. The event is
  // closed only after the device: until then the library may still signal it.
  FT4222_UnInitialize(ftHandle);
  FT_Close(ftHandle);
  platform::CloseReceiveEvent(event);
  capture::CloseCaptureFile(captureFile);
  EndRun(1);
}

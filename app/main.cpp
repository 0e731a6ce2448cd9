// spi-receiver: records into a file the data that a device acting as SPI
// master sends through a USB-to-SPI bridge configured as SPI slave.
#include <cstdint>
#include <string>

#include "capture_file.h"
#include "capture_file_name.h"
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

}  // namespace

int main(int argc, char* argv[]) {
  platform::InstallInterruptHandler(OnInterrupt);
  PrintBanner();
  const std::string captureFileName = argc > 1 ? std::string(argv[1]) : MakeCaptureFileName() + ".bin";

  const int32_t index = FindInterfaceA();
  if (index < 0) {
    ReportNoInterface();
    return 1;
  }
  // Printed before the open, as users of earlier versions know it.
  Print("USB device opened successfully!\n");
  Print("Recevied data will be saved to file: %s\n", captureFileName.c_str());
  Print("( Press Ctrl + C to stop recording )\n");
  Print("\n");

  FT_HANDLE ftHandle = nullptr;
  platform::EventHandle event = nullptr;
  if (!SetUpDevice(index, &ftHandle, &event)) return 1;  // a failure is never a success

  Print("start receiving spi data..............\n");
  CaptureFile captureFile;
  std::string error;
  if (!OpenCaptureFile(captureFile, captureFileName, &error)) {
    Print("Cannot create capture file %s: %s\n", captureFileName.c_str(), error.c_str());
    return 1;
  }

  RunReceiveLoop(ftHandle, event, captureFile);

  // Orderly end; the release calls' results are not examined. The event is
  // closed only after the device: until then the library may still signal it.
  FT4222_UnInitialize(ftHandle);
  FT_Close(ftHandle);
  platform::CloseReceiveEvent(event);
  CloseCaptureFile(captureFile);
  // After a stop request its handler ends the process (interrupt.h);
  // returning here could cut its closing text short.
  if (g_running.load() == 0) platform::BlockForever();
  return 1;
}

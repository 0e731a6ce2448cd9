# Scenarios for the simulated bridge (see sim/README.md), as environment
# assignments for run_wine_tests.sh, one a line. Sourced, not run.

sim_libft4222_name() {  # build dir: which LibFT4222 DLL name that build uses
  if [ -f "$1/LibFT4222-64.dll" ]; then echo LibFT4222-64.dll; else echo LibFT4222.dll; fi
}

sim_no_devices() { echo "SPI_SIM=devices="; }

# The call that fails for each set-up step, with status 4.
sim_fail_step() {
  local function
  case $1 in
    open) function=FT_Open ;;
    set_clock) function=FT4222_SetClock ;;
    set_timeouts) function=FT_SetTimeouts ;;
    set_latency_timer) function=FT_SetLatencyTimer ;;
    set_usb_parameters) function=FT_SetUSBParameters ;;
    spi_slave_init) function=FT4222_SPISlave_Init ;;
    set_driving_strength) function=FT4222_SPI_SetDrivingStrength ;;
    set_event_notification) function=FT4222_SetEventNotification ;;
  esac
  echo "SPI_SIM=fail=${function}:4"
}

# Three J frames with a non-J frame between them; bytes that a text-mode
# stream would mangle (LF, CR LF, Ctrl+Z) included.
sim_scripted_stream() {
  echo "SPI_SIM=source=script;frame 4A 01 02 03;frame 55 AA;frame 4A 0A 0D 0A 1A 00;frame 4A FF"
}

# The records sim_scripted_stream's frames make: bytes 0-1, the length
# little-endian, the rest.
sim_expected_capture() {
  printf '\x4a\x01\x04\x00\x02\x03'
  printf '\x4a\x0a\x06\x00\x0d\x0a\x1a\x00'
  printf '\x4a\xff\x02\x00'
}

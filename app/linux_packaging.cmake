# The two receivers a user installs on Linux, chosen by name:
# - spi-receiver needs the vendor's bridge library by name and finds it where
#   the loader looks (or in PREFIX/lib); it never falls back to the simulator;
# - spi-receiver-sim is the same program on the simulated bridge, which goes
#   to a private directory that its RUNPATH names relative to the program.
# Installed files name nothing in the build tree: CMake swaps the build
# RUNPATH for the install one.
set(SPI_PRIVATE_LIBDIR lib/spi-receiver)

add_executable(spi-receiver-sim)
target_link_libraries(spi-receiver-sim PRIVATE spi_receiver_main bridge_sim)
set_target_properties(spi-receiver-sim PROPERTIES INSTALL_RPATH "$ORIGIN/../${SPI_PRIVATE_LIBDIR}")

if(BRIDGE_LIBRARIES)
  set(vendor_receiver spi-receiver)
else()
  # Linked against the simulator built under the vendor's library name, so it
  # needs that name exactly as with the vendor's library; the stand-in itself
  # is never installed. It carries its installed RUNPATH from the start, so in
  # the build tree too it finds no bridge library unless one is installed.
  add_executable(spi-receiver-vendor)
  target_link_libraries(spi-receiver-vendor PRIVATE spi_receiver_main bridge_vendor_stand_in)
  set_target_properties(spi-receiver-vendor PROPERTIES
    OUTPUT_NAME spi-receiver
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/vendor-linked
    BUILD_WITH_INSTALL_RPATH ON)
  set(vendor_receiver spi-receiver-vendor)
endif()
set_target_properties(${vendor_receiver} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")

install(TARGETS ${vendor_receiver} spi-receiver-sim RUNTIME DESTINATION bin)
install(TARGETS bridge_sim LIBRARY DESTINATION ${SPI_PRIVATE_LIBDIR})

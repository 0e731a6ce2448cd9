# What `cmake --install` lays out besides the receivers (app/*_packaging.cmake),
# and the packages cpack makes of it: a .deb and a .tar.gz on Linux, a .zip
# per Windows target. scripts/package.sh builds all four.

if(WIN32)
  # Everything at the top of the folder, where a user double-clicks.
  install(TARGETS spi-capture RUNTIME DESTINATION .)
else()
  install(TARGETS spi-capture RUNTIME DESTINATION bin)
  install(FILES docs/man/spi-receiver.1 docs/man/spi-receiver-sim.1 docs/man/spi-capture.1
          DESTINATION share/man/man1)
  install(FILES README.md capture/capture-format.md BENCHMARKS.md RELIABILITY.md docs/sim-frame.layout
          DESTINATION share/doc/spi-receiver)
  install(FILES sim/README.md DESTINATION share/doc/spi-receiver RENAME simulator.md)
  # Where Debian's python3 finds it under /usr; elsewhere through PYTHONPATH.
  file(GLOB python_modules ${PROJECT_SOURCE_DIR}/python/*.py)
  list(FILTER python_modules EXCLUDE REGEX "(/test_[^/]*|_test)\\.py$")
  if(python_modules)
    install(FILES ${python_modules} DESTINATION lib/python3/dist-packages)
  endif()
endif()

set(CPACK_PACKAGE_NAME spi-receiver)
set(CPACK_PACKAGE_VENDOR "spi-receiver developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "records SPI data received through a USB-to-SPI bridge")
# Packages carry no debug information, and so no build paths.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  # spi-receiver-0.2-win32.zip, -win64.zip, holding the folder's contents.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_time.cmake)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "spi-receiver developers <spi-receiver@example.com>")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # The vendor's libraries: where the receiver was linked against them and
  # their names.
  if(BRIDGE_LIBRARIES)
    set(vendor_dirs "")
    set(vendor_names "")
    foreach(library IN LISTS BRIDGE_LIBRARIES)
      get_filename_component(dir ${library} DIRECTORY)
      get_filename_component(name ${library} NAME)
      list(APPEND vendor_dirs ${dir})
      list(APPEND vendor_names ${name})
    endforeach()
    list(JOIN vendor_names ", " vendor_names)
  else()
    get_target_property(vendor_dirs bridge_vendor_stand_in LIBRARY_OUTPUT_DIRECTORY)
    set(vendor_names libft4222.so)
  endif()
  # Paragraphs of wrapped lines; an empty line separates them.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "spi-receiver configures a USB-to-SPI bridge as SPI slave and records into\n"
    "a capture file every frame whose first byte is 'J' that a device acting as\n"
    "SPI master sends, until Ctrl+C.\n"
    "\n"
    "spi-receiver needs the bridge vendor's library (${vendor_names}), which no\n"
    "Debian package provides: install it from the vendor, e.g. into\n"
    "/usr/local/lib, and run ldconfig. Without it spi-receiver does not start.\n"
    "\n"
    "spi-receiver-sim is the same program on a simulated bridge, for trying it\n"
    "without the hardware. spi-capture inspects, checks, exports, repairs and\n"
    "joins capture files.")
  # Depends comes from dpkg-shlibdeps, which must find the vendor's library
  # to read the receiver: it looks where the receiver was linked against it.
  # No package holds that library, so it adds nothing to Depends.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${vendor_dirs})
endif()
include(CPack)

# spi-receiver.exe on Windows: its resources (a manifest asking to run as the
# invoking user, and a copy of the LibFT4222 DLL it was built against as
# resource LIBRARY 101), the import-table check and the install layout.
if(NOT BRIDGE_LIBRARIES)
  add_dependencies(spi-receiver bridge_import_libraries)
endif()

set(libft4222_dll "")
foreach(dll IN LISTS BRIDGE_DLLS)
  if(dll MATCHES "LibFT4222[^/]*\\.dll$")
    set(libft4222_dll ${dll})
  endif()
endforeach()
if(NOT libft4222_dll AND TARGET bridge_sim_libft4222)
  # Every DLL lands at the top of the build tree (CMAKE_RUNTIME_OUTPUT_DIRECTORY).
  set(libft4222_dll ${CMAKE_BINARY_DIR}/${LIBFT4222_DLL_NAME})
  # Built with the .exe: it runs against them from the build folder.
  add_dependencies(spi-receiver bridge_sim_ftd2xx bridge_sim_libft4222)
endif()

set(MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/spi-receiver.exe.manifest)
set(LIBRARY_RESOURCE "")
if(libft4222_dll)
  set(LIBRARY_RESOURCE "101 LIBRARY \"${libft4222_dll}\"")
endif()
configure_file(spi-receiver.rc.in ${CMAKE_CURRENT_BINARY_DIR}/spi-receiver.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/spi-receiver.rc PROPERTIES
  OBJECT_DEPENDS "${MANIFEST};${libft4222_dll}")
target_sources(spi-receiver PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/spi-receiver.rc)

# The import table must stay as the vendor's DLLs expect: D2XX by ordinal,
# LibFT4222 by name (with BRIDGE_LIBRARIES the vendor's import libraries
# decide); and the resources must be there.
if(SPI_BUILD_TESTS AND NOT BRIDGE_LIBRARIES)
  add_test(NAME exe_check
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows/check_exe.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:spi-receiver>
            ${LIBFT4222_DLL_NAME} ${libft4222_dll})
endif()

# `cmake --install` lays out a folder that runs as it is: at its top the .exe
# beside the vendor's DLLs (BRIDGE_DLLS; otherwise the user puts them there, as
# README.txt says), and in simulator\ the same .exe beside the simulated
# bridge's DLLs. The simulated DLLs never sit beside the top .exe, so a
# missing vendor DLL stops it instead of recording simulated data.
install(TARGETS spi-receiver RUNTIME DESTINATION .)
if(BRIDGE_DLLS)
  install(FILES ${BRIDGE_DLLS} DESTINATION .)
endif()
if(TARGET bridge_sim_ftd2xx AND TARGET bridge_sim_libft4222)
  install(TARGETS spi-receiver bridge_sim_ftd2xx bridge_sim_libft4222 RUNTIME DESTINATION simulator)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WINDOWS_BITS 64)
else()
  set(WINDOWS_BITS 32)
endif()
configure_file(windows_readme.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

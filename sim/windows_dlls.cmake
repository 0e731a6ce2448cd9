# Windows: the simulated bridge as the two DLLs the vendor ships, so that the
# same spi-receiver.exe runs against either. ftd2xx.dll holds the simulator;
# LibFT4222.dll (LibFT4222-64.dll) forwards its functions there.
spi_target_def(${CMAKE_CURRENT_SOURCE_DIR}/ftd2xx_sim.def ${CMAKE_CURRENT_BINARY_DIR}/ftd2xx_sim.def)
spi_target_def(${CMAKE_CURRENT_SOURCE_DIR}/libft4222_sim.def ${CMAKE_CURRENT_BINARY_DIR}/libft4222_sim.def)

add_library(bridge_sim_ftd2xx SHARED ${CMAKE_CURRENT_BINARY_DIR}/ftd2xx_sim.def)
target_link_libraries(bridge_sim_ftd2xx PRIVATE spi_sim_objects)
set_target_properties(bridge_sim_ftd2xx PROPERTIES OUTPUT_NAME ftd2xx PREFIX "")

string(REGEX REPLACE "\\.dll$" "" libft4222_name ${LIBFT4222_DLL_NAME})
add_library(bridge_sim_libft4222 SHARED libft4222_forwarders.cpp ${CMAKE_CURRENT_BINARY_DIR}/libft4222_sim.def)
set_target_properties(bridge_sim_libft4222 PROPERTIES OUTPUT_NAME ${libft4222_name} PREFIX "")
# Forwarders resolve at load time, but build both whenever one is needed.
add_dependencies(bridge_sim_libft4222 bridge_sim_ftd2xx)

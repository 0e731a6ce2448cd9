// The simulated LibFT4222 DLL has no code of its own: libft4222_sim.def
// forwards each of its functions to the simulated ftd2xx.dll.

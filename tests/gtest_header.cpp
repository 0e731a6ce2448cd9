// Compiles GoogleTest's header once for every test program of the build
// (their precompiled header); the program itself does nothing.
#include <gtest/gtest.h>

int main() {
  return 0;
}

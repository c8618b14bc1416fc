/* Compiled on its own under several C and C++ standards (tests/CMakeLists.txt):
 * the public header needs nothing included before it. */
#include "lintaq.h"

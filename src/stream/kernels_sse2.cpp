// The vector kernels built for one instruction set.
#define LINTAQ_VECTOR_ISA 2
#define LINTAQ_VECTOR_NAME Sse2
#include "stream/kernels_entry.h"

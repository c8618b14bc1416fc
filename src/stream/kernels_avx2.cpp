// The vector kernels built for one instruction set.
#define LINTAQ_VECTOR_ISA 3
#define LINTAQ_VECTOR_NAME Avx2
#include "stream/kernels_entry.h"

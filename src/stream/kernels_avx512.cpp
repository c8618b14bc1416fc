// The vector kernels built for one instruction set.
#define LINTAQ_VECTOR_ISA 5
#define LINTAQ_VECTOR_NAME Avx512
#include "stream/kernels_entry.h"

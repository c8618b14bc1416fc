#include "lintaq.h"

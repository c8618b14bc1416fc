// Constants and tables of the elementary functions, written by
// scripts/gen_maths_tables.py from exact arithmetic.
#pragma once

#include <cstdint>

#include "maths/double_double.h"
#include "maths/wide_fixed.h"

namespace lintaq::maths {

extern const uint64_t kTwoOverPiBits[24];
extern const Wide kWideLn2;
extern const Wide kWideLn10;
extern const Wide kWideInvLn10;
extern const Wide kWideHalfPi;
extern const double kHalfPiParts[6];
extern const double kLn2By64Parts[3];
extern const double kLn2Parts[3];
extern const DoubleDouble kLn10;
extern const DoubleDouble kInvLn10;
extern const DoubleDouble kExp2Table[64];
extern const DoubleDouble kExp2HighSplit[64];
extern const double kLogInverse[128];
extern const uint16_t kLogInverseTimes256[128];
extern const DoubleDouble kLogTable[128];
extern const DoubleDouble kInvFactorial[28];
extern const DoubleDouble kInvInteger[16];

struct SinCosPair {
    DoubleDouble sin;
    DoubleDouble cos;
};
extern const SinCosPair kSinCosTable[128];
extern const double kPiBy256Parts[3];
extern const double kPiBy256Low;
extern const double k256ByPi;

extern const double kExpFastError;
extern const double kLogCubeError;
extern const double kLogExponentError;
extern const double kLogRelativeError;
extern const double kTrigTableTermError;
extern const double kTrigSlopeTermError;
extern const double kTrigReductionError;
extern const double kTanQuotientError;
extern const double kBracketTanError;
extern const double kBracketReductionError;
extern const double kBracketQuotientError;
extern const double kBracketLogError;

} // namespace lintaq::maths

// The design step at the start of every processing call: the bands whose
// settings changed since the last call get new coefficients.
#pragma once

struct PeqInstance;

namespace lintaq {

// Redesigns the flagged bands (every band after a rate or oversampling
// change) and clears the flags. Bumps the instance's design generation
// when anything was redesigned.
void designBands(PeqInstance &inst);

} // namespace lintaq

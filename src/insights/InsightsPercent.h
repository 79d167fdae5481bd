#pragma once

namespace quillby {

// Rounds `value` down to a multiple of 1 / `divisions` (divisions > 0): floor(value × divisions)
// / divisions. A product that lies within a few units in the last place below a whole number is
// taken as that number, so a binary rounding such as 0.29 × 100 = 28.999… never loses a whole
// step. NaN gives 0.
double roundedDown(double value, double divisions);

// `fraction` (0...1) as whole percent, rounded down the same way; NaN gives 0.
int flooredPercent(double fraction);

} // namespace quillby

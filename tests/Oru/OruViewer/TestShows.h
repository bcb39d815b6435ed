#pragma once
// The shows the player's tests open, built with the test-show writers.
#include <string>
#include <vector>

#include "tests/support/kit/ShowProjectWriter.h"

namespace orutest {

// A small JPEG picture (32 x 24) of a shade.
std::string SmallPicture(int shade);

// Slides ending at the given times (default 3000, 7000, 12000 ms), each with
// a picture "pictures\s<n>.jpg"; the first slide has no transition, the
// others fade in over 500 ms. Repeat is the "opt_repeat" word.
void AddSlides(zmtest::TShowProjectWriter& show, const std::vector<long long>& ends = {3000, 7000, 12000},
               const char* repeat = "close");

}  // namespace orutest

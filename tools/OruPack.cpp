// OruPack: packs a show project folder into a show container, or appends
// the container to a copy of the player program. See UsageText.
#include <iostream>
#include <string>
#include <vector>

#include "tools/OruPacker.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return orupack::RunOruPack(args, std::cout, std::cerr);
}

#pragma once
// The ini text builder lives in the product library; tests name it here.
#include "OruLib2/OruPack/IniText.h"

namespace zmtest {

using oru::kUtf8Bom;
using oru::TIniText;

}  // namespace zmtest

#include "ZmLib/VectorGraphics/zmVectorModules.h"

#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "ZmLib/VectorGraphics/zmTextElement.h"

namespace zm {

namespace {
const TModule kVectorModules[] = {
    {"zmTextElement", &InitTextElement, &FiniTextElement},
    {"zmButtonProducer", &InitButtonProducer, &FiniButtonProducer},
};
}  // namespace

std::span<const TModule> VectorModules() { return kVectorModules; }

}  // namespace zm

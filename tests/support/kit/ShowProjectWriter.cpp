#include "tests/support/kit/ShowProjectWriter.h"

#include <utility>

namespace zmtest {

TShowProjectWriter::TShowProjectWriter()
    : detail::TTempHolder{std::make_unique<TTempFolder>()}, oru::TOruProjectWriter(Temp->Path()) {}

TShowProjectWriter::TShowProjectWriter(std::string folder) : oru::TOruProjectWriter(std::move(folder)) {}

void TShowProjectWriter::AddToContainer(TShowContainerWriter& container, int fileMethod) const {
  container.Add(kDescriptionName, DescriptionBytes(), kDeflated);
  for (const auto& [name, data] : Files()) container.Add(name, data, fileMethod);
}

}  // namespace zmtest

#pragma once
// The product's show project writer, for tests: also into a fresh temporary
// folder, and into the kit's container writer.
#include <memory>
#include <string>

#include "OruLib2/OruPack/OruProjectWriter.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/TempFolder.h"

namespace zmtest {

namespace detail {
// Made before the writer that names its folder, removed after it.
struct TTempHolder {
  std::unique_ptr<TTempFolder> Temp;
};
}  // namespace detail

class TShowProjectWriter : private detail::TTempHolder, public oru::TOruProjectWriter {
public:
  // Into a fresh temporary folder, removed with the writer.
  TShowProjectWriter();
  // Into an existing (or new) folder that the caller owns.
  explicit TShowProjectWriter(std::string folder);

  // Puts the show into a container: "Project.oru" deflated, the files with
  // the given method, under their names as given.
  void AddToContainer(TShowContainerWriter& container, int fileMethod = kEnciphered) const;
};

}  // namespace zmtest

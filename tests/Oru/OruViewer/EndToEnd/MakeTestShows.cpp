// Writes the shows the player's end-to-end tests open, into one folder:
//   oruviewer_test_shows <folder>
// Sound containers and projects, and the broken ones the error texts need.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tests/Oru/OruViewer/TestShows.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/ShowProjectWriter.h"
#include "tests/support/kit/TempFolder.h"

namespace fs = std::filesystem;
using namespace zmtest;
using orutest::AddSlides;
using orutest::SmallPicture;

namespace {

void WriteContainer(const TShowProjectWriter& show, const fs::path& file, TShowContainerWriter c = {}) {
  show.AddToContainer(c);
  fs::create_directories(file.parent_path());
  c.WriteFile(file.string());
}

void Make(const fs::path& root) {
  TShowProjectWriter good;
  AddSlides(good);

  WriteContainer(good, root / "valid.orushow");
  // Found only by the retry with ".orushow".
  WriteContainer(good, root / "retry" / "show.orushow");
  // A bundle folder with its show inside, and one whose show lies beside it.
  WriteContainer(good, root / "Bundle.app" / "Contents" / "Resources" / "slideshow.dat");
  fs::create_directories(root / "Beside.app");
  WriteContainer(good, root / "Beside.orushow");

  TShowContainerWriter c;
  c.StrucPos = "12";  // the directory moved although the show does not allow it
  WriteContainer(good, root / "modified.orushow", c);
  c.AllowModify = "1";  // allowed to move, but to a place the directory cannot have come from
  c.StrucPos = "99999999";
  WriteContainer(good, root / "damaged.orushow", c);
  c = {};
  c.TruncateTo = 600;  // cut short in the middle of the entries
  WriteContainer(good, root / "truncated.orushow", c);
  c = {};
  c.DirectoryBytes = std::string(300, 'x');  // a directory that was never deflated
  WriteContainer(good, root / "garbage.orushow", c);
  c = {};
  c.Add("pictures\\s1.jpg", SmallPicture(10));  // no show description at all
  c.WriteFile((root / "noproject.orushow").string());
  // Slide times that go backwards: the time line cannot be built.
  TShowProjectWriter bad;
  AddSlides(bad, {3000, 2000, 5000});
  WriteContainer(bad, root / "badtime.orushow");

  // Project folders.
  {
    TShowProjectWriter project((root / "project").string());
    AddSlides(project);
    project.Write();
  }
  {
    TShowProjectWriter mapped((root / "filemap").string());
    AddSlides(mapped);
    // One name mapped to itself, one to a file that is not there (both
    // pictures lie on disk under their own names).
    mapped.Description()
        .Section("FileMap")
        .Line("\"pictures\\s1.jpg\"=\"pictures\\s1.jpg\"")
        .Line(";\"PICTURES\\S2.JPG\"=\"pictures\\gone.jpg\"");
    mapped.Write();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: oruviewer_test_shows <folder>\n";
    return 2;
  }
  try {
    fs::path root = argv[1];
    fs::remove_all(root);
    fs::create_directories(root);
    Make(root);
  } catch (const std::exception& e) {
    std::cerr << "oruviewer_test_shows: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

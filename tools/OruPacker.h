#pragma once
// The show packer: puts a show project folder ("Project.oru" and the show's
// files) into a show container file, or appends the container to a copy of
// the player program so that the copy plays the show on its own.
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace orupack {

// Exit statuses.
constexpr int kPacked = 0;
constexpr int kFailed = 1;    // a missing folder or file, or a write error
constexpr int kBadUsage = 2;  // bad arguments; the usage text goes to err

std::string UsageText();

// A file a show description names: the name as written, with the section
// and key that name it.
struct TNamedFile {
  std::string Name, Section, Key;
};
// The files a description (the text of a Project.oru) names by the keys
// that name files: pictures ("Picture", "ImageName", "bfn"), music, voice
// and video ("FileName"), the logo and the navigation bar's skin.
std::vector<TNamedFile> NamedFiles(std::string_view description);

// Runs the packer on its arguments (without the program name): messages to
// out and err, the exit status as result.
int RunOruPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orupack

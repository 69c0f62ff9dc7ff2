#include "formats/output_names.h"

#include <sys/stat.h>

namespace {

// Where name leads: the file itself when it exists, else its directory and
// last component.
struct OutputPlace {
  bool exists = false;
  bool in_place = false;  // an existing file that is not a regular one
  bool directory_known = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string last;  // the last component, for a name that does not exist
};

OutputPlace PlaceOf(const std::string& name) {
  OutputPlace place;
  struct stat info;
  if (stat(name.c_str(), &info) == 0) {
    place.exists = true;
    place.in_place = !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
    place.device = info.st_dev;
    place.inode = info.st_ino;
    return place;
  }
  const size_t slash = name.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  place.last = slash == std::string::npos ? name : name.substr(slash + 1);
  if (stat(directory.c_str(), &info) == 0) {
    place.directory_known = true;
    place.device = info.st_dev;
    place.inode = info.st_ino;
  }
  return place;
}

}  // namespace

bool NameOneOutputFile(const std::string& a, const std::string& b) {
  if (a == b) {
    // The same text: one file, unless it is written in place.
    return !PlaceOf(a).in_place;
  }
  const OutputPlace first = PlaceOf(a), second = PlaceOf(b);
  if (first.exists != second.exists || first.in_place || second.in_place) return false;
  if (first.exists) return first.device == second.device && first.inode == second.inode;
  return first.directory_known && second.directory_known && first.device == second.device &&
         first.inode == second.inode && first.last == second.last;
}

// Which file a command's path really is, so that one file never takes two roles in one command.
//
// A command works on several files: the project, its device file, its record (".compared"), the
// partner of a comparison, a picture, and beside each the new files of its replacements
// ("FILE.new.{GUID}", removed as leftovers by the next command). Were two of them one file, the
// command would read one role's bytes as the other's, write one over the other, or wait for a lock
// it holds itself. So each path is followed to the file it is before anything is opened: by its
// name as Windows compares names (any case of it), each link on the way followed, and by the
// file's device and inode where it is there (a hard link, a second name).
#pragma once

#include <string>
#include <vector>

namespace vkr::frame {

// Where a path leads.
struct FilePlace {
  std::string key;      // the real place, links followed, every name in one case: equal keys are one file
  bool exists = false;  // a file (or folder) is there
  unsigned long long device = 0, inode = 0;  // when it exists
  std::string missingTarget;  // the name is a link to a place where nothing is: that place
};

// The place of a full Windows path ("C:\a\b", as FullWindowsPath gives it) below the drive root;
// nothing is created, not even the drive's folder. With `native`, the path is a path of the
// machine (relative to the working folder).
FilePlace PlaceOf(const std::string& path, bool native = false);

// Whether two places are one file.
bool SamePlace(const FilePlace& a, const FilePlace& b);

// One role of a command's file: how the command line names it ("--device", "the record of
// --project") and the path.
struct FileRole {
  std::string name;
  std::string path;
  bool native = false;  // a path of the machine, not a Windows path
};

// Why the roles cannot be given to their files: two of them are one file, or one lies where
// another's new files go. "" when each has a file of its own.
std::string RolesOnOneFile(const std::vector<FileRole>& roles);

}  // namespace vkr::frame

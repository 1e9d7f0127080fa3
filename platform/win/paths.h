// How the system's Windows paths map onto the file system.
//
// "X:\a\b" becomes "<drive root>/x/a/b": the drive root comes from VKR_DRIVE_ROOT, otherwise
// $XDG_DATA_HOME/vkr/drives or ~/.local/share/vkr/drives, and every drive letter is a directory
// below it, created on first use, since on Windows the drive always exists. Both separators are
// accepted and become '/'. In a drive path "." and ".." are resolved by name as Windows resolves
// them, and ".." at the drive's root stays there ("C:\..\x" is "C:\x"): no drive path leads out of
// the drive root. A path without a drive ("a\b", "\a\b", "/opt/x") keeps its place:
// relative paths stay relative to the working directory and rooted ones are native absolute
// paths, so native paths (the module path, the temporary directory) pass unchanged.
//
// Names are found as Windows finds them, by any case: a name that is not there as spelt but is
// in another case ("C:\vkr\LOW.VKR" for <drive root>/c/VKR/low.vkr) is the name the folder
// holds, for every folder on the way and the file; a name that is nowhere keeps the case typed.
//
// The drive root is opened once and held while the process runs: every file of a drive path is
// opened, made, renamed and removed relative to it with the kernel's own resolution beneath it
// (openat2 with RESOLVE_BENEATH), so that no link, swapped in at any moment, leads out. A link on
// the way is followed only while it stays beneath the drive root by a relative target: an
// absolute link, or one that climbs above the root, fails the call with ERROR_CANT_ACCESS_FILE,
// links in a circle (or more than 40 on the way) with ERROR_CANT_RESOLVE_FILENAME.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/types.h"

namespace vkr::platform {

// The directory that stands for the drives, without a trailing '/'.
VKR_API std::string DriveRoot();

// The native path for a Windows path (8-bit texts are UTF-8). Returns ERROR_SUCCESS, or
// ERROR_PATH_NOT_FOUND for an empty path, ERROR_BAD_NETPATH for a UNC path ("\\server\share")
// and ERROR_INVALID_NAME for the "\\?\" and "\\.\" name spaces.
VKR_API DWORD MapPath(std::string_view path, std::string* native);
VKR_API DWORD MapPath(std::u16string_view path, std::string* native);

// Whether the kernel opens names beneath a folder (openat2, Linux 5.6 and later): without it the
// drives' files cannot be kept inside the drive root.
VKR_API bool KernelOpensBeneath();

}  // namespace vkr::platform

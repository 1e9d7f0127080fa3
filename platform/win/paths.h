// How the system's Windows paths map onto the file system.
//
// "X:\a\b" becomes "<drive root>/x/a/b": the drive root comes from VKR_DRIVE_ROOT, otherwise
// $XDG_DATA_HOME/vkr/drives or ~/.local/share/vkr/drives, and every drive letter is a directory
// below it, created on first use, since on Windows the drive always exists. Both separators are
// accepted and become '/'. In a drive path "." and ".." are resolved by name as Windows resolves
// them, and ".." at the drive's root stays there ("C:\..\x" is "C:\x"): no drive path leads out of
// the drive root. A path without a drive ("a\b", "\a\b", "/opt/x") keeps its place:
// relative paths stay relative to the working directory and rooted ones are native absolute
// paths, so native paths (the module path, the temporary directory) pass unchanged. Names keep
// their case: unlike Windows, the file system here tells "A.xml" from "a.xml".
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

}  // namespace vkr::platform

// Helpers shared by the platform's file-system stand-ins: errno to Win32 errors, directory
// creation, and the raw errno kept for the log. Private to the platform.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/types.h"

namespace vkr::platform {

// The Win32 error for an errno value. Keeps the errno as the thread's last system error, so a log
// line can give the underlying cause.
DWORD ErrorFromErrno(int error);
// The errno behind the thread's last Win32 error from a file or registry call (0 when none).
int LastSystemError();

// Creates `path` and its missing parents (mode 0777 less the umask). Returns 0 or the errno.
int MakeDirectories(const std::string& path);

// The directory part of a native path ("." for a bare name) and the last name.
std::string DirectoryPart(std::string_view path);
std::string NamePart(std::string_view path);

// Strict UTF-8 and UTF-16 conversions: false for invalid sequences or lone surrogates (where the
// lossy vkr::Utf8ToUtf16 would put U+FFFD), for names and texts that must come back unchanged.
bool DecodeUtf8(std::string_view in, std::u16string* out);
bool EncodeUtf8(std::u16string_view in, std::string* out);

}  // namespace vkr::platform

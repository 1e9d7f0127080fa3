// The files the host's command lines name, as Windows would find them, all inside the drive root.
//
// Every file named on a command line (--project, --device, --with, a module given with a drive) is
// a Windows path and is resolved once, here, into its full form "X:\a\b": a path without a drive
// ("rel.vkr", "..\x.vkr", "\dir\x.vkr") is on the current drive C: in its current folder C:\, as a
// Windows process started in C:\ finds it, and "." and ".." go by name, ".." at a drive's root
// staying there. The full path then maps below $VKR_DRIVE_ROOT (platform/win/paths.h), so that no
// name of the command line reaches the process's working folder or the machine's file system.
#pragma once

#include <string>
#include <vector>

namespace vkr::frame {

// The current drive and folder of the host: where a path without a drive is found.
inline constexpr char kCurrentFolder[] = "C:\\";

// The full Windows path of the file `given` names into *full. Returns "" or, with *full unchanged,
// why no file Windows could open is named (a wrong command line): a network (UNC) path or a
// "\\?\" or "\\.\" name, a drive that is not one letter, a character Windows allows in no name
// (<>:"|?* and the control characters), a name ending in a dot or a space (which Windows drops), a
// device's name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and COM¹-³, LPT¹-³, in any
// case, with or without an extension), text that is not strictly UTF-8 (an overlong form, a
// surrogate, a code point above U+10FFFF, a sequence cut short), or a folder (a path ending in a
// separator, ".", "..", or a drive's root).
std::string FullWindowsPath(const std::string& given, std::string* full);

// The refusal of a command line's path option for a person: "OPTION VALUE: WHY", the value's
// control characters shown as \xNN.
std::string PathOptionRefused(const std::string& option, const std::string& given, const std::string& why);

// Of the files at full Windows paths, the first whose real place (each link on its way followed,
// as the file system follows it when the file is opened or created) is outside the drive root,
// told for a person with that place, or that is reached through a link the files of a drive are
// not opened through (an absolute one, or one that leads above the drive root); "" when every one
// is inside. A kernel that cannot keep the files beneath the drive root is told first. A command
// refuses such a file before it creates or reads anything; the files themselves are then opened
// beneath the drive root (platform/win/paths.h), so that a link swapped in later leads nowhere out.
std::string LinkOutOfDriveRoot(const std::vector<std::string>& files);

// Makes the folder the file at a full Windows path is to be written in (one level, as the default
// project needs).
void MakeFolderOf(const std::string& path);

}  // namespace vkr::frame

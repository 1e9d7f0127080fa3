// What the frame host says about its own command line and about the project it is given: the
// usage, each command's options, and the messages every command shares (a missing or unreadable
// project, a DTM that is not registered).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

// The usage: every command with a line.
void PrintUsage(std::FILE* to);
// A wrong command line: "vkr-frame: <what>" first, then the usage, on stderr. Returns 2.
int UsageError(const std::string& what);
// The options of one command on stdout; false when there is no such command.
bool PrintCommandHelp(const std::string& command);
// Whether the arguments after the command ask for its help (--help or -h where an option may
// stand, not as the value of one).
bool AsksForHelp(const std::vector<std::string>& arguments);
// Whether the option at `i` lacks its value: nothing follows it, or an empty word, or another
// option (a word that starts with '-' and is more than the dash), which is never taken as a value.
bool ValueMissing(const std::vector<std::string>& arguments, std::size_t i);

// "there is no project file P (an upload creates one)".
std::string MissingProject(const std::string& project);
// Why the DTM could not be opened on the project: the project is not a data set the DTM can read
// (`dataSetRefused`, with nothing changed), or the DTM is not registered (run register first), or
// the failure as it is.
std::string OpenFailure(const std::string& project, HRESULT hr, bool dataSetRefused);
// A failure to create the DTM, with what to do when it is not registered.
std::string CreationFailure(HRESULT hr);

}  // namespace vkr::frame

// The frame host as the engineer's tool: a project file keeps the DTM's data set between runs
// (through the DTM's own persistence), a device file keeps the simulated transmitter's
// configuration, as a real transmitter keeps its own.
//
//   upload                 scans the line for the transmitter (polling addresses 0 to 15; the
//                          project takes the one it answers at), goes online, uploads the upload
//                          list, saves the data set
//   show                   lists the parameters the DTM's parameter document names (name, value,
//                          unit, whether it differs from the device as the project last knew it)
//   set NAME=VALUE ...     changes offline values through the parameter document
//                          (IDtmParameter::SetParameters; NAME a name or descriptor there), saves
//                          and checks that the saved data set keeps them
//   download               goes online, downloads the download list, reads back and reports any
//                          difference
//   compare                the data set against the device
//   compare --with OTHER   the data set against the data set of the project OTHER (a second DTM
//                          of the frame's project, through the frame's topology)
//   status                 the device status (a failure when no device answers)
//
// What the frame last knew of the device (after an upload or a comparison) is kept beside the
// project file, in the project's path with ".compared" appended. Progress goes to stderr as it
// arrives, as a bar redrawn in place when stderr is a terminal, else a line for each new percentage.
//
// Only upload starts a project; the others refuse a project file that is not there, and every
// command refuses one that is damaged or not this DTM's (FrameStorage.h), changing nothing. Each
// file is replaced whole (ReplaceFile); upload, download and compare check that they can write
// every file they replace or create, all at once, before they go online. The device file takes
// each write as the transmitter confirms it; the project and then the record follow when the work
// is done. The record is written only by the command whose work it describes: a download makes it
// unknown (durably) before each change of the transmitter, or changes nothing; a comparison's or
// an upload's outcome replaces it only while it holds what the command read and the transmitter's
// settings are the ones the command knew, else the command says so. A command that does not reach
// the transmitter changes no file.
//
// Options: --project FILE (a Windows path; default C:\VKR\project.vkr under the drive root),
// --device FILE (default: the project's path with ".device" appended), --wire-delay 0|hart.
#pragma once

#include <string>
#include <vector>

namespace vkr::frame {

// Whether the word names one of the commands above.
bool IsEngineeringCommand(const std::string& command);
// Runs the command with its arguments (options included). Prints the outcome on stdout, progress
// on stderr, and a one-line error on stderr on failure. The exit status: 0 done, 1 failed, 2 a
// wrong command line.
int RunEngineeringCommand(const std::string& command, const std::vector<std::string>& arguments);

}  // namespace vkr::frame

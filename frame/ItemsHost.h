// The frame host's `items` command: the items the DTM offers for single device data access on a
// project's data set, as IDtmSingleInstanceDataAccess::GetItemList gives them.
//
//   items [--project FILE]   prints one line per item: id, name, data type, access (r: readable
//                            from the device, w: writable to it), unit and range
#pragma once

#include <string>
#include <vector>

namespace vkr::frame {

// Runs the command with its arguments. Prints the items on stdout, a one-line error on stderr on
// failure. The exit status: 0 done, 1 failed, 2 a wrong command line.
int RunItemsCommand(const std::vector<std::string>& arguments);

}  // namespace vkr::frame

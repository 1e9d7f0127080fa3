// The frame host's `ui` command: shows a user interface of the DTM to a person, as a picture.
//
//   ui FUNCTION [--png FILE] [--project FILE] [--page N|all]
//                          opens the user interface of function FUNCTION of the DTM's function
//                          list through the frame's IFdtActiveXHost (the DTM online to a
//                          simulated transmitter on the project's data set), handles what the
//                          opening queued, lets the device's answers arrive, renders the frame
//                          window to FILE (default ui-FUNCTION.png) and closes it again; with
//                          --page, a page frame's tree item N (0 the first, counted as the tree
//                          reads) is selected first, or with "all" each item in turn, each
//                          rendered to FILE with "-N" before its extension; a later --page N is a
//                          step of the user's work (below): page N clicked in the tree, what was
//                          typed on the page left kept there
//   ui FUNCTION ... [--offline] [--type ID=TEXT]... [--click ID]... [--page N]... [--read ID]...
//                          the user's work in the opened control, in the order given: typing into
//                          an edit (a combo box: choosing the item), clicking an item (the visible
//                          one, also of a control the page opened); then the texts of items
//                          printed. --offline: no device on the frame's channel. The host closes
//                          what is still open (a question nobody answers then gets No), saves a
//                          data set whose values changed into the project, as a frame saves its
//                          project, and says last what the run applied
//   ui --list [--project FILE]
//                          lists the functions that have a user interface: id, name, class
//   ui --test-control [--png FILE]
//                          the same road with the frame's own test control instead of the class the
//                          DTM names (shows the hosting and the drawing before the DTM's controls)
//   ui --class CLASS [--png FILE] [--project FILE] [--page N|all]
//                          the same road with a class of any registered module (ProgID or {CLSID}),
//                          given the DTM as the DTM's own user interfaces are: a page frame with
//                          test pages from a test module, say; a property page of the DTM is shown
//                          in the page frame of the function that lists it, selected in its tree
#pragma once

#include <string>
#include <vector>

namespace vkr::frame {

// Runs the command with its arguments. The exit status: 0 done, 1 failed, 2 a wrong command line.
int RunUiCommand(const std::vector<std::string>& arguments);

}  // namespace vkr::frame

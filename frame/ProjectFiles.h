// The files of a project the frame host's commands share: the project file (the DTM's data set in
// the frame's container) and the device file, in which the simulated transmitter keeps its memory
// between runs as a real transmitter keeps it, so that every command on a project talks to one
// transmitter.
//
// The device file holds one "name hex" line for each setting a write command changes (the sensor
// limits the PV unit converts and the device memory of command 134 included), the change counter,
// what the device status has still to tell each master (configuration changed, cold start, the
// command 48 status each acknowledged), a malfunction the transmitter found in itself, and the
// loop current's state (a fixed current, the trims
// the master gave). A file with a line missing, twice, unknown, not hex or of the wrong length is
// damaged and refused; the lines kept only since a later version may be missing (files written
// before them load with the default transmitter's values there: no fixed current, no trims, its
// sensor limits and memory, no reset to tell, nothing acknowledged, no malfunction).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "frame/FrameStorage.h"
#include "frame/SimulatedDevice.h"

namespace vkr::frame {

std::string DeviceFileText(const SimulatedDevice::Configuration& c);
// The same text in the form of another device file, `shape`, which loaded as the device file text
// `held`: each of its lines takes the value the device holds, in the file's order and with its
// line ends; of the lines it lacks, those whose setting changed from what `held` gives them follow
// in the usual order (an older file stays without the lines of settings nobody changed).
std::string DeviceFileTextLike(const SimulatedDevice::Configuration& c, const std::string& shape,
                               const std::string& held);
// False with *why (the line and what is wrong with it) for a damaged file; *c is then unchanged.
bool ParseDeviceFile(const std::string& text, SimulatedDevice::Configuration* c, std::string* why);

// The device file of one command, from its load to its save.
class DeviceFile {
 public:
  explicit DeviceFile(std::string path) : m_file(std::move(path)) {}
  // Reads the file into `device`. False with the reason for a person when the file cannot be
  // read or is damaged, or is not there: only an upload puts a transmitter in place, and only
  // with `absentIsDefault` does a file that is not there stand for the default transmitter.
  bool Load(SimulatedDevice* device, std::string* why, bool absentIsDefault = false);
  // Keeps the device's memory in the file when it differs from what the file last held (a file
  // that is not there holds the default transmitter, and is written when `createAbsent`), so that
  // a command that changed nothing leaves the file byte for byte as it was, and one that changed a
  // setting changes only its line; never over a file another command saved meanwhile. False with
  // the reason for a person.
  bool Save(const SimulatedDevice& device, std::string* why, bool createAbsent = false);
  // Whether the file holds the device's memory as it is now.
  bool Holds(const SimulatedDevice& device) const;
  // Whether the file holds the device's memory but for the cold starts its status has told: all a
  // read changes in a transmitter.
  bool HoldsAllButToldColdStart(const SimulatedDevice& device) const;
  // Whether the file on the disk still holds the transmitter's settings as this command last read
  // or saved them: no other command wrote the transmitter meanwhile. What its status has still to
  // tell a master (cold start, configuration changed, acknowledged status) is left aside: another
  // master's reads change that. S_OK when it does, kDeviceChangedMeanwhile when it does not, or
  // the error that kept the file from being read again (*why then says so for a person).
  HRESULT SettingsUnchanged(std::string* why) const;
  // Whether the file holds the device's settings as they are now (what the status has still to
  // tell a master aside).
  bool HoldsSettings(const SimulatedDevice& device) const;
  const std::string& Path() const { return m_file.Path(); }

 private:
  KnownFile m_file;
  std::optional<std::string> m_loaded;  // the device as loaded, in the file's own form
};

// The record of what the project knew of the device (the project's path with ".compared"
// appended) when nothing is known.
constexpr char kUnknownRecord[] = "verdict none\n";

// The record holds its lines ("verdict WORD", then "value NAME VALUE" lines) and last a line
// "check XXXXXXXX": the CRC-32 of every byte before it, so that a record cut short, changed or
// extended is found, as the project's container finds it. The unknown record is the one record
// without it (it claims nothing).
std::string CheckedRecord(const std::string& lines);
enum class RecordForm {
  Checked,    // its check holds
  Unknown,    // kUnknownRecord
  Unchecked,  // whole lines without a check: an earlier version's record, or one cut at a line's end
  Damaged,    // its check fails, or it is not made of whole record lines
};
// The form of a record's text and, for a checked one, its lines (*lines, the check taken off).
RecordForm ReadRecordForm(const std::string& text, std::string* lines);
// What a command says of a record it takes as not compared ("" for a checked or unknown one).
std::string RecordNotTaken(const std::string& path, RecordForm form);

// One command's changes of the transmitter's settings, each kept in its device file only while the
// record says nothing is known of the device: made unknown (written through to the disk) before
// the first change, and found so, in one step with the device file's save, at each change (a
// comparison's record, which checks the settings in its own step, waits for it). Before the first
// change the record is replaced only as the command read it; once the transmitter changed, a
// record another command wrote meanwhile (a comparison between two writes) tells of a device about
// to change again, and is made unknown once more. A record that cannot be made unknown stops every
// change: the transmitter confirms none. What the status tells a master changes no setting and
// goes into the device file as it comes.
class DeviceChanges {
 public:
  // The command's device file and record (read as the command began).
  DeviceChanges(DeviceFile* device, KnownFile* record) : m_device(device), m_record(record) {}
  // Keeps the device's memory; false when the file does not take it (the transmitter then
  // confirms nothing), with *problem the reason for a person.
  bool Keep(const SimulatedDevice& device, std::string* problem);
  // Whether the transmitter took a change of this command.
  bool Changed() const { return m_changed; }
  // Why the record could not be made unknown ("" when it could).
  const std::string& RecordFailure() const { return m_recordFailure; }
  // Runs before each change goes into the device file (tests hold the command there).
  std::function<void()> beforeChange;
  // Runs once the record was made unknown before the first change, before the device file takes
  // it (tests hold the command there).
  std::function<void()> afterMark;

 private:
  DeviceFile* m_device;
  KnownFile* m_record;
  bool m_marked = false;
  bool m_changed = false;
  std::string m_recordFailure;
};

// Saves the DTM's data set (IPersistStreamInit, in the frame's container) into the project file
// (KnownFile::Replace); *replaced as ReplaceFile gives it.
HRESULT SaveDataSet(IUnknown* dtm, KnownFile* project, bool* replaced);

// A comparison or an upload not kept because another command changed the transmitter (its device
// file's settings) while this one ran: what it found no longer describes the device.
constexpr HRESULT kDeviceChangedMeanwhile = MAKE_HRESULT(1, FACILITY_ITF, 0x0246);

// "there is no transmitter: the device file F is not there (an upload puts one in place); ...".
std::string NoTransmitter(const std::string& deviceFile);
// The files of one command, checked before it opens any: two roles on one file are a wrong command
// line (*usage: the exit status 2); a file out of the drive root or a link to nothing is refused
// (*why). With `projectMustExist`, a project that is not there is refused too, before anything
// is made (not even the drive's folder). False with the reason.
struct CommandFiles {
  std::string project;
  std::string device;  // "" when the command has none
  bool deviceGiven = false;
  std::string with;    // compare's partner ("" when none)
  std::string picture;  // a path of the machine ("" when none)
};
bool CheckCommandFiles(const CommandFiles& files, bool projectMustExist, bool* usage, std::string* why);

// Why `path` cannot be a project file a command opens: "" when it is a file, else that there is
// no project file there or that a folder is in its place.
std::string ProjectProblem(const std::string& path);
// Removes what cut-off replacements left beside the project file, its device file and its record
// (RemoveLeftovers), as every command on the project does before it works on it.
void TidyProject(const std::string& project);
// Reads the project file (TidyProject first) and takes the DTM's stream out of its container. False with the reason
// (there is none, a folder, unreadable, damaged) for a person; with `mayBeAbsent` a file that is
// not there is no failure (*stream empty, project->Present() false).
bool ReadProject(KnownFile* project, std::string* stream, std::string* why, bool mayBeAbsent = false);
// The error of a file at `path` for a person: ResultText, and for a path not found the first
// folder on the way that is not there.
std::string FileErrorText(const std::string& path, HRESULT hr);
// The one line for a save of `what` ("the data set", "the device", ...) into `path` that failed
// with hr: refused because another command changed the file meanwhile, done but not written
// through to the disk (`replaced`), or not done.
std::string SaveFailure(const std::string& what, const std::string& path, HRESULT hr, bool replaced);

}  // namespace vkr::frame

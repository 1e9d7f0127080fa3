// The frame host's usage, command help and shared messages.
#include "frame/HostUsage.h"

#include "frame/FrameHost.h"
#include "frame/FrameStorage.h"

namespace vkr::frame {
namespace {

struct CommandHelp {
  const char* name;
  const char* synopsis;  // the command with its arguments
  const char* line;      // what it does, in the usage
  const char* options;   // its options, for COMMAND --help
};

constexpr char kProjectOption[] =
    "  --project FILE       the project: a Windows path (default C:\\VKR\\project.vkr), under $VKR_DRIVE_ROOT;\n"
    "                       a path without a drive is in C:\\ (rel.vkr is C:\\rel.vkr)\n";
constexpr char kDeviceOptions[] =
    "  --device FILE        the simulated transmitter's memory (default: the project's path with .device)\n"
    "  --wire-delay 0|hart  how fast the simulated wire answers (hart: 1200 bit/s, as a real loop)\n";

const CommandHelp kCommands[] = {
    {"register", "register [MODULE]", "registers the DTM module into the registry ($VKR_REGISTRY)",
     "  MODULE               the DTM module to register (default: " VKR_DEFAULT_MODULE ")\n"},
    {"unregister", "unregister [MODULE]", "removes the module's registration", "  MODULE               as for register\n"},
    {"classes", "classes", "lists the registered classes", ""},
    {"create", "create", "creates the DTM by its ProgID, shows its state and releases it", ""},
    {"lifecycle", "lifecycle", "takes the DTM through its states, online to the simulated transmitter and back", ""},
    {"info", "info", "prints the DTM's information documents, checked against the schema set", ""},
    {"upload", "upload", "reads the device into the project's data set (creates the project)", ""},
    {"download", "download", "writes the project's data set into the device and reads it back", ""},
    {"show", "show", "lists the data set's parameters and whether each differs from the device", ""},
    {"set", "set NAME=VALUE...", "changes values of the data set offline and saves the project",
     "  NAME=VALUE           a parameter of the DTM's parameter document, by name or descriptor\n"},
    {"compare", "compare [--with OTHER]", "compares the data set with the device (or with the project OTHER)",
     "  --with OTHER         compares with the data set of the project OTHER instead of the device\n"},
    {"status", "status", "reads the device status", ""},
    {"items", "items", "lists the items the DTM offers for single device data access", ""},
    {"ui", "ui FUNCTION | --list | --test-control | --class CLASS",
     "opens a user interface of the DTM and renders it to a PNG",
     "  FUNCTION             the function id of the user interface (ui --list lists them)\n"
     "  --list               lists the functions with a user interface\n"
     "  --test-control       opens the frame's own test control\n"
     "  --class CLASS        opens the control or property page of that ProgID or {CLSID}\n"
     "  --png FILE           where the picture goes (default ui-FUNCTION.png)\n"
     "  --no-picture         no picture is drawn (the run, its dump and its reads are the same)\n"
     "  --page N|all         selects page N of a page tree (all: each in turn, FILE-N.png); a later\n"
     "                       --page N (after another --page, --type, --click or --wait) is a step of the\n"
     "                       work: the user clicks page N in the tree; what was typed on the page left\n"
     "                       stays pending there\n"
     "  --offline            no device on the frame's channel (a project that does not exist yet is new)\n"
     "  --device FILE        online: the simulated transmitter's memory (default: the project's path with\n"
     "                       .device), saved back when the control closes\n"
     "  --additional-status HEX  the simulated transmitter's command 48 status bytes (e.g. 06000100)\n"
     "  --language LCID      the DTM's language (e.g. 1031) before the user interface opens\n"
     "  --wire-delay 0|hart  how fast the simulated wire answers (hart: 1200 bit/s, as a real loop)\n"
     "  --fault COMMAND[#N]=KIND  the next request of that HART command fails, or its Nth request of the\n"
     "                       run (as the run's \"requests:\" line counts them): KIND is silent (no answer),\n"
     "                       busy, refused, lost or linkgone; or warned: the transmitter does it and answers\n"
     "                       with the warning 8\n"
     "  --fault writes=warned  the transmitter answers every write it takes with the warning 8\n"
     "  --type ID=TEXT       types TEXT into the item ID (a combo or list box: chooses its entry TEXT)\n"
     "  --click ID           clicks the item ID (OK, Apply, ...); --type, --click, --wait and --page N in\n"
     "                       the order given\n"
     "  --wait MS            lets MS milliseconds of the user interface's time pass, its timers served (the\n"
     "                       run then goes on a fake clock, the same on every machine; not with --wire-delay)\n"
     "  --now                the next --type or --click does not wait until the DTM settled: it comes while\n"
     "                       the requests of the step before are still on the channel\n"
     "  --read ID            prints the text of the item ID after the typing and clicking\n"
     "  --dump               prints every item the user sees afterwards: its control, id, class, state,\n"
     "                       status mark, the lamp's picture and text (with --page all: each page)\n"
     "  --journal            prints the steps, the requests sent, the messages and the message lines in\n"
     "                       the order they came\n"
     "  --answer BUTTON      answers the next question of the user interface with BUTTON (OK, Cancel,\n"
     "                       Yes, No, Abort, Retry or Ignore), in the order given; messages with an OK\n"
     "                       button only take it; a question no answer covers gets the button that\n"
     "                       changes nothing (No, else Cancel)\n"},
    {"help", "help", "prints this text (also --help, -h)", ""},
};

bool TakesProject(const std::string& name) {
  return name == "upload" || name == "download" || name == "show" || name == "set" || name == "compare" ||
         name == "status" || name == "items" || name == "ui";
}

bool TakesDevice(const std::string& name) {
  return name == "upload" || name == "download" || name == "show" || name == "set" || name == "compare" ||
         name == "status";
}

}  // namespace

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "usage: vkr-frame COMMAND [OPTIONS]\ncommands:\n");
  for (const CommandHelp& c : kCommands) {
    const std::string synopsis = c.synopsis;
    if (synopsis.size() <= 22)
      std::fprintf(to, "  %-22s %s\n", c.synopsis, c.line);
    else
      std::fprintf(to, "  %s\n  %-22s %s\n", c.synopsis, "", c.line);
  }
  std::fprintf(to,
               "'vkr-frame COMMAND --help' prints the command's options. The registry file is $VKR_REGISTRY, the\n"
               "drives are below $VKR_DRIVE_ROOT (C: is $VKR_DRIVE_ROOT/c), the current folder C:\\; the commands\n"
               "from create on need the DTM registered first.\n"
               "Exit status: 0 done, 1 the command failed (the last line says why), 2 a wrong command line.\n");
}

int UsageError(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "vkr-frame: %s\n", what.c_str());
  PrintUsage(stderr);
  return 2;
}

bool PrintCommandHelp(const std::string& command) {
  for (const CommandHelp& c : kCommands) {
    if (command != c.name) continue;
    std::printf("usage: vkr-frame %s%s\n  %s\n", c.synopsis, TakesProject(command) ? " [OPTIONS]" : "", c.line);
    if (!*c.options && !TakesProject(command)) return true;
    std::printf("options:\n%s", c.options);
    if (TakesProject(command)) std::printf("%s", kProjectOption);
    if (TakesDevice(command)) std::printf("%s", kDeviceOptions);
    return true;
  }
  return false;
}

bool AsksForHelp(const std::vector<std::string>& arguments) {
  static const char* const kTakeValues[] = {"--project", "--device", "--wire-delay", "--with", "--png", "--class",
                                            "--page", "--additional-status", "--type", "--click", "--read",
                                            "--language", "--fault", "--answer"};
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--help" || arguments[i] == "-h") return true;
    for (const char* option : kTakeValues)
      if (arguments[i] == option) {
        ++i;
        break;
      }
  }
  return false;
}

bool ValueMissing(const std::vector<std::string>& arguments, std::size_t i) {
  if (i + 1 >= arguments.size()) return true;
  const std::string& value = arguments[i + 1];
  return value.empty() || (value.size() > 1 && value[0] == '-');
}

std::string MissingProject(const std::string& project) {
  return "there is no project file " + project + " (an upload creates one)";
}

std::string CreationFailure(HRESULT hr) {
  std::string text = FailureText(hr);
  if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG) text += "; the DTM is not registered: run 'vkr-frame register' first";
  return text;
}

std::string OpenFailure(const std::string& project, HRESULT hr, bool dataSetRefused) {
  if (!dataSetRefused) return "the DTM could not be opened on " + project + ": " + CreationFailure(hr);
  // A file error of its own (a folder, no right to read) is not about what the file holds.
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32 && hr != kDamagedDataSet)
    return "the project file " + project + " cannot be read: " + ResultText(hr) + "; nothing was changed";
  return "the project file " + project + " is not a data set this DTM can read (" +
         (hr == kDamagedDataSet ? std::string("it is damaged: cut short or changed since it was saved")
                                : std::string("damaged, or not written by this DTM")) +
         "); nothing was changed";
}

}  // namespace vkr::frame

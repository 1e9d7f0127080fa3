// HART command response codes and their texts (see HartResponseTexts.h).
#include "communication/HartResponseTexts.h"

#include <cstdio>

namespace vkr::hart {

namespace {

struct SCodeText {
  int command;  // -1: every command
  BYTE code;
  const char16_t* text;
  bool warning;
};

// A command's own meaning goes before the common one of the same code.
constexpr SCodeText kTexts[] = {
    {35, 8, u"set to nearest possible value", true},
    {35, 9, u"lower range value too high", false},
    {35, 10, u"lower range value too low", false},
    {35, 11, u"upper range value too high", false},
    {35, 12, u"upper range value too low", false},
    {35, 13, u"upper and lower range values out of limits", false},
    {35, 14, u"span too small, the device's accuracy may be impaired", true},
    {35, 29, u"invalid span", false},
    {6, 12, u"invalid mode selection", false},
    {38, 9, u"configuration change counter mismatch", false},
    {40, 11, u"in multidrop mode", false},
    {45, 9, u"incorrect loop current mode", false},
    {45, 11, u"in multidrop mode", false},
    {46, 9, u"incorrect loop current mode", false},
    {46, 11, u"in multidrop mode", false},
    // The procedures carry no value a device could take another of.
    {38, 8, u"warning", true},
    {41, 8, u"warning", true},
    {42, 8, u"warning", true},
    {48, 8, u"update in progress", true},
    {48, 14, u"status bytes mismatch", true},
    // HART's common meaning of a write's code 8: what the device took is not quite what it was sent.
    {-1, 8, u"set to nearest possible value", true},
    {-1, 1, u"undefined", false},
    {-1, 2, u"invalid selection", false},
    {-1, 3, u"passed parameter too large", false},
    {-1, 4, u"passed parameter too small", false},
    {-1, 5, u"too few data bytes", false},
    {-1, 6, u"device-specific command error", false},
    {-1, 7, u"in write protect mode", false},
    {-1, 16, u"access restricted", false},
    {-1, 32, u"busy", false},
    {-1, 33, u"delayed response initiated", false},
    {-1, 34, u"delayed response running", false},
    {-1, 35, u"delayed response dead", false},
    {-1, 36, u"delayed response conflict", false},
    {-1, 64, u"command not implemented", false},
};

const SCodeText* Find(BYTE command, BYTE code) {
  for (const SCodeText& entry : kTexts)
    if (entry.code == code && (entry.command == command || entry.command < 0)) return &entry;
  return nullptr;
}

}  // namespace

std::u16string ResponseCodeText(BYTE command, BYTE code) {
  const SCodeText* entry = code == 0 ? nullptr : Find(command, code);
  if (entry) return entry->text;
  // A warning is never told bare: without a meaning of its own it is named by its class.
  if (code >= 96 && code <= 111) return u"device-specific warning";
  if (code != 0 && IsWarning(command, code)) return u"warning";
  return u"";
}

std::u16string DescribeResponseCode(BYTE command, BYTE code) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", code);
  std::u16string text(hex, hex + 4);
  const std::u16string meaning = ResponseCodeText(command, code);
  if (!meaning.empty()) text += u" (" + meaning + u")";
  return text;
}

bool IsWarning(BYTE command, BYTE code) {
  if (const SCodeText* entry = code == 0 ? nullptr : Find(command, code)) return entry->warning;
  // HART's classes of codes: these are warnings whatever the command gives them to mean.
  return code == 8 || code == 14 || (code >= 24 && code <= 27) || code == 30 || code == 31 ||
         (code >= 96 && code <= 111);
}

}  // namespace vkr::hart

namespace vkr::hart {

namespace {
constexpr std::u16string_view kWarnedWrite = u"\" was written; the device warns: ";
}  // namespace

std::u16string WarnedWriteText(std::u16string_view name, BYTE command, BYTE code) {
  std::u16string text;
  text.reserve(name.size() + kWarnedWrite.size() + 40);
  text += u'"';
  text += name;
  text += kWarnedWrite;
  text += DescribeResponseCode(command, code);
  return text;
}

bool IsWarnedWriteText(std::u16string_view text) { return text.find(kWarnedWrite) != std::u16string_view::npos; }

}  // namespace vkr::hart

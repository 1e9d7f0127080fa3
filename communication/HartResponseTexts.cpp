// HART command response codes and their texts (see HartResponseTexts.h).
#include "communication/HartResponseTexts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

namespace {

constexpr std::u16string_view kWarns = u" written; the device warns: ";

// One warned write in a notice: where its words stand, the names it gives and the warning.
struct SWarnedWrite {
  std::size_t begin = 0, end = 0;
  std::vector<std::u16string> names;  // each with its quotes
  std::u16string warning;
};

// The quoted names ending just before `end` ('"A", "B" and "C"'), walked backwards; the position
// of the first quote, or npos when no quoted name ends there.
std::size_t NamesBefore(std::u16string_view text, std::size_t end, std::vector<std::u16string>* names) {
  std::size_t begin = std::u16string_view::npos;
  while (end > 0 && text[end - 1] == u'"') {
    const std::size_t open = end >= 2 ? text.rfind(u'"', end - 2) : std::u16string_view::npos;
    if (open == std::u16string_view::npos) break;
    names->insert(names->begin(), std::u16string(text.substr(open, end - open)));
    begin = open;
    if (open >= 2 && text.substr(open - 2, 2) == u", ")
      end = open - 2;
    else if (open >= 5 && text.substr(open - 5, 5) == u" and ")
      end = open - 5;
    else
      break;
  }
  return begin;
}

std::u16string JoinQuoted(const std::vector<std::u16string>& names) {
  std::u16string joined;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) joined += i + 1 == names.size() ? u" and " : u", ";
    joined += names[i];
  }
  return joined;
}

}  // namespace

std::u16string GroupWarnedWrites(std::u16string_view text) {
  std::vector<SWarnedWrite> writes;
  for (std::size_t at = text.find(kWarns); at != std::u16string_view::npos; at = text.find(kWarns, at + 1)) {
    SWarnedWrite write;
    std::size_t namesEnd = std::u16string_view::npos;
    if (at >= 4 && text.substr(at - 4, 4) == u" was") namesEnd = at - 4;
    if (at >= 5 && text.substr(at - 5, 5) == u" were") namesEnd = at - 5;
    if (namesEnd == std::u16string_view::npos) continue;
    write.begin = NamesBefore(text, namesEnd, &write.names);
    if (write.begin == std::u16string_view::npos) continue;
    const std::size_t from = at + kWarns.size();
    // The warning runs to the next write of the notice or the end of its sentence.
    std::size_t end = text.find(u"; \"", from);
    for (std::size_t dot = text.find(u'.', from); dot != std::u16string_view::npos; dot = text.find(u'.', dot + 1))
      if (dot + 1 == text.size() || text[dot + 1] == u' ') {
        end = std::min(end, dot);
        break;
      }
    write.end = end == std::u16string_view::npos ? text.size() : end;
    write.warning = std::u16string(text.substr(from, write.end - from));
    writes.push_back(std::move(write));
  }
  std::u16string grouped;
  std::size_t copied = 0;
  for (std::size_t i = 0; i < writes.size();) {
    // A run of warned writes joined by "; " is told warning by warning.
    std::size_t last = i;
    while (last + 1 < writes.size() && text.substr(writes[last].end, writes[last + 1].begin - writes[last].end) == u"; ")
      ++last;
    std::vector<SWarnedWrite> byWarning;
    for (std::size_t k = i; k <= last; ++k) {
      auto same = std::find_if(byWarning.begin(), byWarning.end(),
                               [&](const SWarnedWrite& w) { return w.warning == writes[k].warning; });
      if (same == byWarning.end()) same = byWarning.insert(byWarning.end(), SWarnedWrite{0, 0, {}, writes[k].warning});
      for (const std::u16string& name : writes[k].names)
        if (std::find(same->names.begin(), same->names.end(), name) == same->names.end()) same->names.push_back(name);
    }
    grouped += text.substr(copied, writes[i].begin - copied);
    for (std::size_t k = 0; k < byWarning.size(); ++k) {
      if (k > 0) grouped += u"; ";
      grouped += JoinQuoted(byWarning[k].names) + (byWarning[k].names.size() == 1 ? u" was" : u" were") +
                 std::u16string(kWarns) + byWarning[k].warning;
    }
    copied = writes[last].end;
    i = last + 1;
  }
  grouped += text.substr(copied);
  return grouped;
}

}  // namespace vkr::hart

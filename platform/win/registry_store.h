// The registry's tree of keys and typed values, and the text file it is kept in.
//
// The Reg* calls (registry.cpp) work on a RegTree; this header is also what vkr-reg and the
// tests use to print values and to check the file format. Private to the platform.
//
// File format: UTF-8 text, one item a line, close to the .reg files of Windows so that a person
// can read and edit it.
//
//   VKR Registry 1
//   ; This file ends with the line "; end of registry"; without it the file was cut short.
//   ; A comment (also '#'); blank lines are ignored.
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Vorntec\VKR Series DTM]
//   "CommLogging"=dword:00000001
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Vorntec\VKR Series DTM\Files]
//   "LoggingPath"="C:\\Logging"
//   @="the key's default (unnamed) value"
//   ; end of registry
//
// - The first item must be the line "VKR Registry 1". A file of only blanks is an empty registry.
// - The end marker: a file that holds the note line above (kEndNote) must end with the line
//   "; end of registry" (kEndMarker), and nothing but blanks and comments may follow that line, so
//   a file cut short at a line boundary is refused instead of read with keys missing. Both lines
//   are comments to a reader that does not know them, and a file without the note (as written by
//   earlier versions, or by hand) is read as before: the writer always puts both in.
// - "[hive\path]" starts a key; every key of the path exists. Hives: HKEY_LOCAL_MACHINE (HKLM),
//   HKEY_CURRENT_USER (HKCU); HKEY_CLASSES_ROOT (HKCR) stands for HKLM\SOFTWARE\Classes. A key
//   may appear in several sections; a key without values is kept.
// - Key names: 1 to 255 characters, no '\', no control characters; compared without regard to
//   case, and kept as first written.
// - Value lines belong to the key above them: "name"=data, or @=data for the default value.
//   In quoted texts '\\' is a backslash and '\"' a quote; no other escapes. A value name may not
//   repeat within its key.
// - Data forms:
//     "text"                   REG_SZ
//     expand:"text"            REG_EXPAND_SZ
//     multi:"a","b"            REG_MULTI_SZ (multi: alone is the empty list)
//     dword:0000002a           REG_DWORD, 1 to 8 hex digits
//     qword:000000000000002a   REG_QWORD, 1 to 16 hex digits
//     hex:01,ff                REG_BINARY, bytes as two hex digits, separated by commas
//     hex(N):01,ff             any type N (hex), its bytes as stored
//   Strings are stored as UTF-16 with their terminating zero, exactly as RegSetValueExW stores
//   them. Data that a readable form cannot give back byte for byte (a string without its zero,
//   with control characters or an odd length, a DWORD of other than 4 bytes...) is written as
//   hex(N), so writing and reading the file never changes a value.
// - Limits (a file beyond them is refused): 64 MiB of text, keys 512 deep, value names of 16383
//   characters, 1 MiB of data per value.
//
// The writer puts HKLM before HKCU, keys in name order depth first, values in the order they were
// created.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/casefold.h"
#include "platform/win/native.h"
#include "platform/win/types.h"

namespace vkr::platform {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxValueDataSize = 1u << 20;
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxRegistryFileSize = 64u << 20;

// The end marker's two lines (see the file format above).
inline constexpr std::string_view kEndNote =
    "; This file ends with the line \"; end of registry\"; without it the file was cut short.";
inline constexpr std::string_view kEndMarker = "; end of registry";

struct RegValue {
  std::u16string name;  // empty: the key's default value
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct RegKey {
  std::vector<RegValue> values;  // in creation order
  std::map<std::u16string, std::unique_ptr<RegKey>, NoCaseLess> subkeys;

  RegValue* FindValue(std::u16string_view name);
  RegKey* FindSubkey(std::u16string_view name);
  // The subkey, created when missing; *created says which.
  RegKey* AddSubkey(std::u16string_view name, bool* created = nullptr);
};

enum class Hive { Machine, User };

struct RegTree {
  RegKey machine;
  RegKey user;
  RegKey& Root(Hive h) { return h == Hive::Machine ? machine : user; }
  const RegKey& Root(Hive h) const { return h == Hive::Machine ? machine : user; }
};

bool IsValidKeyName(std::u16string_view name);
bool IsValidValueName(std::u16string_view name);

// Splits "a\b\c" into its names. A single trailing '\' is allowed; an empty text gives no names.
// False for a leading '\', an empty name ("a\\b") or an invalid name.
bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string>* names);

// The hive named by the first element of a key text ("HKEY_LOCAL_MACHINE", "HKLM", "HKCU",
// "HKEY_CLASSES_ROOT", "HKCR", any case) and the names below it, with HKCR's
// "SOFTWARE\Classes" put in front. False when the hive or a name is not valid.
bool ParseKeyText(std::u16string_view text, Hive* hive, std::vector<std::u16string>* names);
// "HKEY_LOCAL_MACHINE\a\b".
std::string KeyText(Hive hive, const std::vector<std::u16string>& names);

struct RegistryParseError {
  std::size_t line = 0;  // 1-based; 0 when the whole file is at fault (too large)
  std::string reason;
};

// Parses a registry file. On failure *tree is unspecified and *error says where and why.
bool ParseRegistryText(std::string_view text, RegTree* tree, RegistryParseError* error);
std::string WriteRegistryText(const RegTree& tree);

// One value line as the file has it ("name"=data or @=data, without the line end).
std::string FormatValueLine(const RegValue& value);

}  // namespace vkr::platform

// Small helpers the frame's host commands share.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

// A fresh invoke id: a GUID without braces.
inline std::string NewInvokeId() {
  GUID guid{};
  UuidCreate(&guid);
  OLECHAR text[64] = {};
  StringFromGUID2(guid, text, 64);
  std::string id = Utf16ToUtf8(text);
  if (id.size() > 2 && id.front() == '{') id = id.substr(1, id.size() - 2);
  return id;
}

// An FDT call's outcome with its result flag: the failure, S_FALSE for a refusal, else S_OK.
inline HRESULT Checked(HRESULT hr, VARIANT_BOOL result) {
  if (FAILED(hr)) return hr;
  return hr == S_OK && result ? S_OK : S_FALSE;
}

inline bool FileExists(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Tests: stops the command at POINT as VKR_FRAME_TEST_HOLD and VKR_FRAME_TEST_HOLD_IN ask (see
// EngineeringHost.cpp); nothing without them.
void HoldForTesting(const char* point);

// Enters the apartment a frame's thread is in; leaves it when the command ends.
class Apartment {
 public:
  Apartment() : m_hr(CoInitialize(nullptr)) {}
  ~Apartment() {
    if (SUCCEEDED(m_hr)) {
      CoFreeUnusedLibraries();
      CoUninitialize();
    }
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  HRESULT Result() const { return m_hr; }

 private:
  HRESULT m_hr;
};

// Whether a note of the frame is the DTM's word on a write the device took with a warning: a
// success, told as an error message is.
inline bool IsWarningNote(const std::string& note) {
  return note.rfind("error ", 0) == 0 && note.find(" was written; the device warns: ") != std::string::npos;
}

// What a failed download tells, from the DTM's notes (from `first` on): the DTM's word on the value
// the device refused (its closing "failed" when it named none), and what the transmitter was left
// holding. Without an error of the DTM's, the control's own word that the download did not go
// through (it could not go online). Empty when the notes tell no failure.
inline std::string DownloadFailureText(const std::vector<std::string>& notes, std::size_t first, bool deviceChanged) {
  std::string why, refused, told;
  constexpr char kNotThrough[] = "The download did not go through: ";
  for (std::size_t i = first; i < notes.size(); ++i) {
    if (const std::size_t at = notes[i].find(kNotThrough);
        told.empty() && notes[i].rfind("message ", 0) == 0 && at != std::string::npos) {
      told = notes[i].substr(at + sizeof kNotThrough - 1);
      told = told.substr(0, told.find(". "));
      if (!told.empty() && told.back() == '.') told.pop_back();
    }
    if (notes[i].rfind("error ", 0) != 0 || IsWarningNote(notes[i])) continue;
    why = notes[i].substr(notes[i].find(": ") + 2);
    if (why.find(" was not written: ") != std::string::npos) refused = why;
  }
  if (why.empty()) why = told;
  if (why.empty()) return {};
  return "the download failed: " + (refused.empty() ? why : refused) +
         (deviceChanged ? "; the device now holds part of the data set (compare names what differs)"
                        : "; the device was not changed");
}

}  // namespace vkr::frame

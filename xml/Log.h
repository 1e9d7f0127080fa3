// The service trace: one process-wide switch and log directory; each line goes to the debugger
// output and is appended to "VornExampleDevDTM_Log.txt" in the log directory.
//
// Line format in the file: "hh:mm:ss.mmm: " (local time, one clock reading), the text, " \r\n",
// as UTF-8 (the ANSI code page). The debugger gets "Vorn VKR Series DTM: " and the text.
// Safe from any thread: each line is one append at the end of the file, so concurrent lines never
// interleave or get lost, and the directory can be changed while others write.
#pragma once

#include "platform/platform.h"

// The log file's name inside the log directory.
inline constexpr char kLogFileName[] = "VornExampleDevDTM_Log.txt";
// What every debugger line starts with.
inline constexpr char kLogDebugPrefix[] = "Vorn VKR Series DTM: ";

// Writes one trace line when the log is switched on; never fails towards the caller (a file that
// cannot be opened or written loses the line). A null text is the empty text.
void WriteLog(LPCWSTR text);
// The same for 8-bit text in the ANSI code page.
void WriteLogA(const char* text);

// The process-wide switch; off at start.
void SetLogEnabled(bool on);
bool IsLogEnabled();
// The process-wide log directory (a Windows path such as "C:\Logging"); null or empty means
// debugger output only. The text is copied.
void SetLogDirectory(LPCWSTR directory);
// A copy of the directory (null when none is set); E_POINTER, E_OUTOFMEMORY.
HRESULT GetLogDirectory(BSTR* directory);

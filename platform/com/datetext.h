// OLE dates: calendar parts, and the texts in a locale's short date and time forms. Private to the
// platform.
//
// A DATE counts days from 1899-12-30; its fraction is the time of day, taken as a positive
// fraction also for negative dates (-1.25 is 1899-12-29 06:00). Dates run from 0100-01-01
// (-657434) to 9999-12-31 and resolve to the second.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/variant.h"
#include "platform/win/locale_data.h"

namespace vkr::platform {

struct DateParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int dayOfWeek = 0;  // 0 = Sunday
};

// Rounded to the nearest second; false outside the DATE range.
bool DateToParts(DATE date, DateParts* out);
// False for a month outside 1..12, a year outside 100..9999, a time field out of range, or a day
// outside 1..31 (with `rollDays` a day past the month's end moves into the next month and day 0 is
// the previous month's last day, as SystemTimeToVariantTime does; without it such days are refused).
bool PartsToDate(const DateParts& parts, bool rollDays, DATE* out);

enum class DatePart { kAuto, kTimeOnly, kDateOnly };

// kAuto shows the time alone for a date on 1899-12-30, the date alone at midnight, else both,
// separated by a blank. DISP_E_OVERFLOW outside the DATE range.
HRESULT DateText(DATE date, const LocaleData& locale, DatePart part, std::u16string* out);

// Reads a date and/or time: numbers in the locale's date order (M/D/Y for en-US, D.M.Y for de-DE;
// a first number of three or more digits starts Y-M-D; a month above 12 swaps with the day), or
// with a month name (the locale's or English, full or abbreviated); separators "/", "-", ".", ","
// and blanks; a time h:mm[:ss] with an optional AM/PM designator; "T" may join an ISO date and
// time. Two-digit years 00-29 are 20xx, 30-99 19xx; a missing year is the current one; a time
// alone falls on 1899-12-30. DISP_E_TYPEMISMATCH for anything else.
HRESULT ParseDate(std::u16string_view text, const LocaleData& locale, DatePart part, DATE* out);

}  // namespace vkr::platform

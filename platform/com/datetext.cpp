// OLE date arithmetic and the date texts of the conversions.
#include "platform/com/datetext.h"

#include <cmath>
#include <utility>

#include "platform/win/calendar.h"
#include "platform/win/time.h"

namespace vkr::platform {
namespace {

constexpr double kMinDate = -657434.0;  // 0100-01-01
constexpr double kMaxDate = 2958465.0;  // 9999-12-31

void PutNumber(std::u16string& out, int value, int width) {
  char16_t buf[12];
  int k = 0;
  unsigned v = static_cast<unsigned>(value < 0 ? -value : value);
  do {
    buf[k++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (k < width) buf[k++] = u'0';
  while (k > 0) out.push_back(buf[--k]);
}

// The picture letters of the Windows date and time formats; other characters and 'quoted' text
// are copied.
void FormatPicture(const char16_t* picture, const DateParts& p, const LocaleData& loc, std::u16string& out) {
  for (const char16_t* s = picture; *s;) {
    const char16_t c = *s;
    if (c == u'\'') {
      ++s;
      while (*s && !(*s == u'\'' && s[1] != u'\'')) {
        if (*s == u'\'') ++s;
        out.push_back(*s++);
      }
      if (*s) ++s;
      continue;
    }
    int run = 0;
    while (s[run] == c) ++run;
    switch (c) {
      case u'd':
        if (run >= 4) out += loc.dayNames[(p.dayOfWeek + 6) % 7];
        else if (run == 3) out += loc.abbrevDayNames[(p.dayOfWeek + 6) % 7];
        else PutNumber(out, p.day, run);
        break;
      case u'M':
        if (run >= 4) out += loc.monthNames[p.month - 1];
        else if (run == 3) out += loc.abbrevMonthNames[p.month - 1];
        else PutNumber(out, p.month, run);
        break;
      case u'y':
        if (run >= 3) PutNumber(out, p.year, 4);
        else PutNumber(out, p.year % 100, run);
        break;
      case u'h':
        PutNumber(out, p.hour % 12 == 0 ? 12 : p.hour % 12, run > 1 ? 2 : 1);
        break;
      case u'H':
        PutNumber(out, p.hour, run > 1 ? 2 : 1);
        break;
      case u'm':
        PutNumber(out, p.minute, run > 1 ? 2 : 1);
        break;
      case u's':
        PutNumber(out, p.second, run > 1 ? 2 : 1);
        break;
      case u't': {
        const char16_t* mark = p.hour < 12 ? loc.am : loc.pm;
        if (run == 1) {
          if (*mark) out.push_back(*mark);
        } else {
          out += mark;
        }
        break;
      }
      default:
        out.append(static_cast<std::size_t>(run), c);
        break;
    }
    s += run;
  }
}

char16_t Lower(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
  return c;
}

bool SameWord(std::u16string_view a, const char16_t* b) {
  const std::u16string_view w(b);
  if (a.size() != w.size() || a.empty()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(w[i])) return false;
  return true;
}

const char16_t* const kEnglishMonths[12] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                            u"July",    u"August",   u"September", u"October", u"November", u"December"};
const char16_t* const kEnglishMonthsShort[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                 u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kEnglishDays[7] = {u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday", u"Sunday"};
const char16_t* const kEnglishDaysShort[7] = {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"};

int MonthOf(std::u16string_view w, const LocaleData& loc) {
  for (int m = 0; m < 12; ++m)
    if (SameWord(w, loc.monthNames[m]) || SameWord(w, loc.abbrevMonthNames[m]) || SameWord(w, kEnglishMonths[m]) ||
        SameWord(w, kEnglishMonthsShort[m]))
      return m + 1;
  return 0;
}

bool IsDayName(std::u16string_view w, const LocaleData& loc) {
  for (int d = 0; d < 7; ++d)
    if (SameWord(w, loc.dayNames[d]) || SameWord(w, loc.abbrevDayNames[d]) || SameWord(w, kEnglishDays[d]) ||
        SameWord(w, kEnglishDaysShort[d]))
      return true;
  return false;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsDateSeparator(char16_t c, const LocaleData& loc) {
  return c == u'/' || c == u'-' || c == u'.' || c == u',' || (loc.dateSep[0] && c == loc.dateSep[0] && !loc.dateSep[1]);
}
bool IsTimeSeparator(char16_t c, const LocaleData& loc) { return c == u':' || (c == loc.timeSep[0] && !loc.timeSep[1]); }
bool IsWordChar(char16_t c, const LocaleData& loc) {
  return !IsDigit(c) && !IsBlank(c) && !IsDateSeparator(c, loc) && !IsTimeSeparator(c, loc) && c != 0;
}

struct Field {
  int value;
  int digits;
};

int FullYear(const Field& f) {
  if (f.digits <= 2) return f.value < 30 ? 2000 + f.value : 1900 + f.value;
  return f.value;
}

int CurrentYear() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return now.wYear;
}

}  // namespace

bool DateToParts(DATE date, DateParts* out) {
  if (!(date > kMinDate - 1 && date < kMaxDate + 1)) return false;
  const double whole = std::trunc(date);
  long long days = static_cast<long long>(whole);
  long long secs = std::llround(std::fabs(date - whole) * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    ++days;
  }
  if (days > static_cast<long long>(kMaxDate)) return false;
  const long long epochDays = kOleEpochDays + days;
  const CivilDate civil = CivilFromDays(epochDays);
  out->year = static_cast<int>(civil.year);
  out->month = static_cast<int>(civil.month);
  out->day = static_cast<int>(civil.day);
  out->hour = static_cast<int>(secs / 3600);
  out->minute = static_cast<int>(secs / 60 % 60);
  out->second = static_cast<int>(secs % 60);
  out->dayOfWeek = static_cast<int>(DayOfWeekFromDays(epochDays));
  return true;
}

bool PartsToDate(const DateParts& p, bool rollDays, DATE* out) {
  if (p.year < 100 || p.year > 9999 || p.month < 1 || p.month > 12 || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
      p.minute > 59 || p.second < 0 || p.second > 59)
    return false;
  if (rollDays ? (p.day < 0 || p.day > 31)
               : (p.day < 1 || p.day > static_cast<int>(DaysInMonth(p.year, static_cast<unsigned>(p.month)))))
    return false;
  const long long days =
      DaysFromCivil(p.year, static_cast<unsigned>(p.month), 1) + (p.day - 1) - kOleEpochDays;
  if (days < static_cast<long long>(kMinDate) || days > static_cast<long long>(kMaxDate)) return false;
  const double t = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
  *out = days >= 0 ? static_cast<double>(days) + t : static_cast<double>(days) - t;
  return true;
}

HRESULT DateText(DATE date, const LocaleData& locale, DatePart part, std::u16string* out) {
  DateParts p;
  if (!DateToParts(date, &p)) return DISP_E_OVERFLOW;
  bool showDate = part != DatePart::kTimeOnly;
  bool showTime = part != DatePart::kDateOnly;
  if (part == DatePart::kAuto) {
    const bool epochDay = p.year == 1899 && p.month == 12 && p.day == 30;
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
    showDate = !epochDay;
    showTime = epochDay || !midnight;
  }
  out->clear();
  if (showDate) FormatPicture(locale.shortDate, p, locale, *out);
  if (showDate && showTime) out->push_back(u' ');
  if (showTime) FormatPicture(locale.timeFormat, p, locale, *out);
  return S_OK;
}

HRESULT ParseDate(std::u16string_view text, const LocaleData& loc, DatePart part, DATE* out) {
  Field dates[3];
  int dateCount = 0;
  int time[3] = {0, 0, 0};
  int timeCount = 0;
  int month = 0;
  int ampm = 0;  // 1 AM, 2 PM
  std::size_t i = 0;
  auto readNumber = [&](Field* f) {
    int v = 0, n = 0;
    while (i < text.size() && IsDigit(text[i])) {
      if (n < 6) v = v * 10 + (text[i] - u'0');
      ++n;
      ++i;
    }
    *f = {v, n};
    return n > 0 && n <= 5;
  };

  while (i < text.size()) {
    const char16_t c = text[i];
    if (IsBlank(c) || IsDateSeparator(c, loc)) {
      ++i;
    } else if (IsDigit(c)) {
      Field f;
      if (!readNumber(&f)) return DISP_E_TYPEMISMATCH;
      if (i < text.size() && IsTimeSeparator(text[i], loc)) {
        if (timeCount) return DISP_E_TYPEMISMATCH;
        time[timeCount++] = f.value;
        while (i < text.size() && IsTimeSeparator(text[i], loc) && timeCount < 3) {
          ++i;
          if (!readNumber(&f) || f.digits > 2) return DISP_E_TYPEMISMATCH;
          time[timeCount++] = f.value;
        }
        if (timeCount < 2) return DISP_E_TYPEMISMATCH;
      } else {
        if (dateCount == 3) return DISP_E_TYPEMISMATCH;
        dates[dateCount++] = f;
      }
    } else {
      const std::size_t start = i;
      while (i < text.size() && IsWordChar(text[i], loc)) ++i;
      if (i == start) return DISP_E_TYPEMISMATCH;
      const std::u16string_view word = text.substr(start, i - start);
      if (int m = MonthOf(word, loc)) {
        if (month) return DISP_E_TYPEMISMATCH;
        month = m;
      } else if (SameWord(word, u"AM") || SameWord(word, u"A") || SameWord(word, loc.am)) {
        if (ampm) return DISP_E_TYPEMISMATCH;
        ampm = 1;
      } else if (SameWord(word, u"PM") || SameWord(word, u"P") || SameWord(word, loc.pm)) {
        if (ampm) return DISP_E_TYPEMISMATCH;
        ampm = 2;
      } else if (SameWord(word, u"T") && dateCount == 3 && i < text.size() && IsDigit(text[i])) {
        // joins an ISO date and its time
      } else if (!IsDayName(word, loc)) {
        return DISP_E_TYPEMISMATCH;
      }
    }
  }

  // "3 PM": an hour without minutes.
  if (ampm && timeCount == 0 && dateCount > 0 && dates[dateCount - 1].digits <= 2) {
    time[0] = dates[--dateCount].value;
    timeCount = 1;
  }
  if (ampm && timeCount == 0) return DISP_E_TYPEMISMATCH;

  DateParts p;
  p.year = 1899;
  p.month = 12;
  p.day = 30;
  bool hasDate = false;
  if (month) {
    hasDate = true;
    p.month = month;
    if (dateCount == 1) {
      if (dates[0].value > 31 || dates[0].digits >= 3) {
        p.year = FullYear(dates[0]);
        p.day = 1;
      } else {
        p.day = dates[0].value;
        p.year = CurrentYear();
      }
    } else if (dateCount == 2) {
      if (dates[0].value > 31 || dates[0].digits >= 3) {
        p.year = FullYear(dates[0]);
        p.day = dates[1].value;
      } else {
        p.day = dates[0].value;
        p.year = FullYear(dates[1]);
      }
    } else {
      return DISP_E_TYPEMISMATCH;
    }
  } else if (dateCount >= 2) {
    hasDate = true;
    const char16_t order = loc.dateOrder[0];
    int m, d;
    if (dateCount == 3 && (dates[0].digits >= 3 || dates[0].value > 31)) {
      p.year = FullYear(dates[0]);
      m = dates[1].value;
      d = dates[2].value;
    } else if (dateCount == 3) {
      if (order == u'1') {
        d = dates[0].value, m = dates[1].value, p.year = FullYear(dates[2]);
      } else if (order == u'2') {
        p.year = FullYear(dates[0]), m = dates[1].value, d = dates[2].value;
      } else {
        m = dates[0].value, d = dates[1].value, p.year = FullYear(dates[2]);
      }
    } else {
      p.year = CurrentYear();
      if (order == u'1') {
        d = dates[0].value, m = dates[1].value;
      } else {
        m = dates[0].value, d = dates[1].value;
      }
    }
    if (m > 12 && d <= 12) std::swap(m, d);
    p.month = m;
    p.day = d;
  } else if (dateCount == 1) {
    return DISP_E_TYPEMISMATCH;
  }
  if (!hasDate && timeCount == 0) return DISP_E_TYPEMISMATCH;

  if (timeCount) {
    p.hour = time[0];
    p.minute = timeCount > 1 ? time[1] : 0;
    p.second = timeCount > 2 ? time[2] : 0;
    if (ampm) {
      if (p.hour < 1 || p.hour > 12) return DISP_E_TYPEMISMATCH;
      if (ampm == 1 && p.hour == 12) p.hour = 0;
      if (ampm == 2 && p.hour != 12) p.hour += 12;
    }
  }
  if (part == DatePart::kTimeOnly) {
    p.year = 1899, p.month = 12, p.day = 30;
  } else if (part == DatePart::kDateOnly) {
    p.hour = p.minute = p.second = 0;
  }
  DATE date;
  if (!PartsToDate(p, false, &date)) return DISP_E_TYPEMISMATCH;
  *out = date;
  return S_OK;
}

}  // namespace vkr::platform

// Reading times. The calendar arithmetic is done here for UTC and offsets; local time goes
// through Windows, which knows the machine's zone and its daylight saving rules.
#include "tools/itembuilder/ItemTime.h"
#include "platform/WinHeaders.h"
#include <cerrno>
#include <cwchar>

namespace {

const int64_t kTicksPerSecond = 10000000;
const int64_t kSeconds1601To1970 = 11644473600LL;

struct CTimeFields
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int64_t ticks = 0;     // below the second, in 100 ns
    bool zoned = false;    // "Z" or an offset was given
    int offsetMinutes = 0; // east of UTC
};

// Exactly count digits at pos.
bool Digits(const std::wstring& text, size_t& pos, size_t count, int& value)
{
    value = 0;
    for (size_t i = 0; i < count; ++i, ++pos) {
        if (pos >= text.size() || text[pos] < L'0' || text[pos] > L'9')
            return false;
        value = value * 10 + (text[pos] - L'0');
    }
    return true;
}

bool Take(const std::wstring& text, size_t& pos, wchar_t c)
{
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool ParseClock(const std::wstring& text, size_t& pos, CTimeFields& t)
{
    if (!Digits(text, pos, 2, t.hour) || !Take(text, pos, L':') || !Digits(text, pos, 2, t.minute))
        return false;
    if (!Take(text, pos, L':'))
        return true;
    if (!Digits(text, pos, 2, t.second))
        return false;
    if (Take(text, pos, L'.') || Take(text, pos, L',')) {
        int64_t scale = kTicksPerSecond / 10;
        size_t first = pos;
        for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
            t.ticks += (text[pos] - L'0') * scale;
            scale /= 10;
        }
        if (pos == first)
            return false;
    }
    return true;
}

bool ParseZone(const std::wstring& text, size_t& pos, CTimeFields& t)
{
    if (Take(text, pos, L'Z')) {
        t.zoned = true;
        return true;
    }
    if (pos == text.size())
        return true;
    int sign = text[pos] == L'+' ? 1 : text[pos] == L'-' ? -1 : 0;
    int hours = 0, minutes = 0;
    if (sign == 0 || !Digits(text, ++pos, 2, hours))
        return false;
    Take(text, pos, L':');
    if (!Digits(text, pos, 2, minutes) || hours > 14 || minutes > 59)
        return false;
    t.zoned = true;
    t.offsetMinutes = sign * (hours * 60 + minutes);
    return true;
}

bool ParseIso(const std::wstring& text, CTimeFields& t)
{
    size_t pos = 0;
    if (!Digits(text, pos, 4, t.year) || !Take(text, pos, L'-') || !Digits(text, pos, 2, t.month) ||
        !Take(text, pos, L'-') || !Digits(text, pos, 2, t.day))
        return false;
    if ((Take(text, pos, L'T') || Take(text, pos, L' ')) && !ParseClock(text, pos, t))
        return false;
    if (!ParseZone(text, pos, t) || pos != text.size())
        return false;
    return t.year >= 1601 && t.year <= 30827 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// Seconds since 1601-01-01 00:00 of the same clock (days from the civil date, after
// H. Hinnant's algorithm).
int64_t SecondsSince1601(const CTimeFields& t)
{
    int y = t.year - (t.month <= 2 ? 1 : 0);
    int era = y / 400;
    int yoe = y - era * 400;
    int doy = (153 * ((t.month + 9) % 12) + 2) / 5 + t.day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = int64_t(era) * 146097 + doe - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second + kSeconds1601To1970;
}

bool LocalToFileTime(const CTimeFields& t, int64_t* fileTime)
{
    SYSTEMTIME local = {};
    local.wYear = WORD(t.year);
    local.wMonth = WORD(t.month);
    local.wDay = WORD(t.day);
    local.wHour = WORD(t.hour);
    local.wMinute = WORD(t.minute);
    local.wSecond = WORD(t.second);
    SYSTEMTIME utc = {};
    FILETIME ft = {};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &ft))
        return false;
    *fileTime = int64_t(uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) + t.ticks;
    return true;
}

} // namespace

bool ParseItemTime(const std::wstring& text, int64_t* fileTime)
{
    // A file time: digits, with a sign at most (a date has its hyphens further in).
    if (!text.empty() && text.find_first_not_of(L"-0123456789") == std::wstring::npos &&
        text.find(L'-', 1) == std::wstring::npos) {
        wchar_t* end = nullptr;
        errno = 0;
        long long value = std::wcstoll(text.c_str(), &end, 10);
        if (*end || errno == ERANGE)
            return false;
        *fileTime = value;
        return true;
    }
    CTimeFields t;
    if (!ParseIso(text, t))
        return false;
    if (!t.zoned)
        return LocalToFileTime(t, fileTime);
    *fileTime = (SecondsSince1601(t) - int64_t(t.offsetMinutes) * 60) * kTicksPerSecond + t.ticks;
    return true;
}

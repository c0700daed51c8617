#include "app/yield/YieldTime.h"

#include "errors/FormatText.h"

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar
// (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Civil {
    int64_t year;
    int64_t month;
    int64_t day;
};

Civil CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const int64_t month = shifted + (shifted < 10 ? 3 : -9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool IsLeap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t DaysInMonth(int64_t year, int64_t month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Reads count decimal digits at text[at]; false when any is not a digit.
bool Digits(const std::string& text, size_t at, size_t count, int64_t& value) {
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD" at the start of text, as the day's first millisecond.
std::optional<int64_t> DatePart(const std::string& text) {
    int64_t year = 0;
    int64_t month = 0;
    int64_t day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
        !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) || month < 1 ||
        month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return DaysFromCivil(year, month, day) * kMillisecondsPerDay;
}

// "HH:MM" at text[at], and ":SS" after it when seconds is set; the time of
// day in milliseconds.
std::optional<int64_t> TimePart(const std::string& text, size_t at, bool seconds) {
    int64_t hour = 0;
    int64_t minute = 0;
    int64_t second = 0;
    if (!Digits(text, at, 2, hour) || text.size() < at + 5 || text[at + 2] != ':' ||
        !Digits(text, at + 3, 2, minute) || hour > 23 || minute > 59) {
        return std::nullopt;
    }
    if (seconds && (text.size() < at + 8 || text[at + 5] != ':' ||
                    !Digits(text, at + 6, 2, second) || second > 59)) {
        return std::nullopt;
    }
    return ((hour * 60 + minute) * 60 + second) * 1000;
}

}  // namespace

std::optional<int64_t> FilterTime(const std::string& text) {
    const std::optional<int64_t> date = DatePart(text);
    if (!date || text.size() == 10) {
        return text.size() == 10 ? date : std::nullopt;
    }
    // "THH:MMZ" or "THH:MM:SSZ" after the date.
    const bool seconds = text.size() == 20;
    if ((text.size() != 17 && !seconds) || text[10] != 'T' || text.back() != 'Z') {
        return std::nullopt;
    }
    const std::optional<int64_t> time = TimePart(text, 11, seconds);
    return time ? std::optional<int64_t>(*date + *time) : std::nullopt;
}

std::optional<int64_t> RecordTime(const std::string& text) {
    const std::optional<int64_t> date = DatePart(text);
    if (!date || text.size() < 20 || text[10] != 'T' || text.back() != 'Z') {
        return std::nullopt;
    }
    const std::optional<int64_t> time = TimePart(text, 11, true);
    if (!time || (text.size() > 20 && (text[19] != '.' || text.size() == 21))) {
        return std::nullopt;
    }
    // The fraction's digits, between the "." and the "Z": to the
    // millisecond, cut.
    int64_t millis = 0;
    const size_t last = text.size() - 1;
    for (size_t at = 20; at < last; ++at) {
        int64_t digit = 0;
        if (!Digits(text, at, 1, digit)) {
            return std::nullopt;
        }
        millis = at < 23 ? millis * 10 + digit : millis;
    }
    for (size_t at = last; at < 23 && text.size() > 20; ++at) {
        millis *= 10;
    }
    return *date + *time + millis;
}

int64_t DayOf(int64_t milliseconds) {
    return (milliseconds >= 0 ? milliseconds : milliseconds - (kMillisecondsPerDay - 1)) /
           kMillisecondsPerDay;
}

std::string DayText(int64_t day) {
    const Civil date = CivilFromDays(day);
    return FormatText("%04lld-%02lld-%02lld", static_cast<long long>(date.year),
                      static_cast<long long>(date.month), static_cast<long long>(date.day));
}

std::string SecondText(int64_t milliseconds) {
    const int64_t day = DayOf(milliseconds);
    const int64_t ofDay = (milliseconds - day * kMillisecondsPerDay) / 1000;
    return DayText(day) + FormatText(" %02lld:%02lld:%02lld", static_cast<long long>(ofDay / 3600),
                                     static_cast<long long>(ofDay / 60 % 60),
                                     static_cast<long long>(ofDay % 60));
}

std::string MinuteText(int64_t milliseconds) {
    return SecondText(milliseconds).substr(0, 16);
}

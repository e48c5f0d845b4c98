#include "foundation/Dates.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

namespace linkferry {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Earlier than any date ICU computes with, so the Julian calendar is never used.
constexpr UDate kProlepticChange = -1.8e16;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

CivilDate civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

bool isLeapYear(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned daysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads exactly `count` ASCII digits at `position`.
bool readDigits(std::string_view text, std::size_t& position, std::size_t count, int& value) {
  if (position + count > text.size()) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[position + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  position += count;
  return true;
}

bool expect(std::string_view text, std::size_t& position, char wanted) {
  if (position >= text.size() || text[position] != wanted) return false;
  ++position;
  return true;
}

void appendTwoDigits(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

// "YYYY-MM-DDTHH:MM:SS" of the whole second `seconds` (already shifted to local time).
std::string formatLocal(std::int64_t seconds) {
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t secondOfDay = seconds % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --days;
  }
  const CivilDate date = civilFromDays(days);
  std::string out;
  std::int64_t year = date.year;
  if (year < 0) {
    out += '-';
    year = -year;
  }
  std::string digits = std::to_string(year);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  out += digits;
  out += '-';
  appendTwoDigits(out, static_cast<int>(date.month));
  out += '-';
  appendTwoDigits(out, static_cast<int>(date.day));
  out += 'T';
  appendTwoDigits(out, static_cast<int>(secondOfDay / 3600));
  out += ':';
  appendTwoDigits(out, static_cast<int>(secondOfDay / 60 % 60));
  out += ':';
  appendTwoDigits(out, static_cast<int>(secondOfDay % 60));
  return out;
}

std::int64_t wholeSeconds(Date date) {
  // Far beyond any calendar we care about; keeps the conversion defined for any double.
  const double clamped = std::fmax(-1e15, std::fmin(1e15, std::floor(date.secondsSince1970)));
  return std::isnan(clamped) ? 0 : static_cast<std::int64_t>(clamped);
}

std::string identifierOf(const icu::TimeZone& zone) {
  icu::UnicodeString id;
  zone.getID(id);
  std::string out;
  id.toUTF8String(out);
  return out;
}

bool isUnknown(const icu::TimeZone& zone) {
  icu::UnicodeString id;
  zone.getID(id);
  return id == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID);
}

}  // namespace

Date Date::now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return Date{std::chrono::duration<double>(since).count()};
}

namespace RFC3339 {

std::optional<Date> parse(std::string_view text) {
  std::size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readDigits(text, at, 4, year) || !expect(text, at, '-') || !readDigits(text, at, 2, month) ||
      !expect(text, at, '-') || !readDigits(text, at, 2, day)) {
    return std::nullopt;
  }
  if (at >= text.size() || (text[at] != 'T' && text[at] != 't')) return std::nullopt;
  ++at;
  if (!readDigits(text, at, 2, hour) || !expect(text, at, ':') ||
      !readDigits(text, at, 2, minute) || !expect(text, at, ':') ||
      !readDigits(text, at, 2, second)) {
    return std::nullopt;
  }
  // A fraction of a second is accepted and dropped.
  if (at < text.size() && text[at] == '.') {
    const std::size_t first = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == first) return std::nullopt;
  }
  int offset = 0;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int sign = text[at] == '-' ? -1 : 1;
    ++at;
    int offsetHours = 0, offsetMinutes = 0;
    if (!readDigits(text, at, 2, offsetHours) || !expect(text, at, ':') ||
        !readDigits(text, at, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
      return std::nullopt;
    }
    offset = sign * (offsetHours * 3600 + offsetMinutes * 60);
  } else {
    return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 ||
      day > static_cast<int>(daysInMonth(year, static_cast<unsigned>(month))) || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  // A leap second (":60") is read as the first second of the next minute.
  const std::int64_t days =
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const std::int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second - offset;
  return Date{static_cast<double>(seconds)};
}

std::string formatUTC(Date date) {
  return formatLocal(wholeSeconds(date)) + "Z";
}

std::string format(Date date, const Calendar& calendar) {
  // RFC 3339 offsets have whole minutes; the rare historical zone with seconds in its offset is
  // written with the offset cut to minutes and the local time to match, so the text still names
  // the same instant.
  const int offset = calendar.offsetSeconds(date) / 60 * 60;
  if (offset == 0) return formatUTC(date);
  std::string out = formatLocal(wholeSeconds(date) + offset);
  const int magnitude = offset < 0 ? -offset : offset;
  out += offset < 0 ? '-' : '+';
  appendTwoDigits(out, magnitude / 3600);
  out += ':';
  appendTwoDigits(out, magnitude / 60 % 60);
  return out;
}

}  // namespace RFC3339

namespace {

// ICU keeps whole milliseconds in its fields; the rest is carried around the calendar.
struct Milliseconds {
  double whole;
  double rest;
  explicit Milliseconds(Date date) {
    const double ms = date.secondsSince1970 * 1000.0;
    whole = std::floor(ms);
    rest = ms - whole;
  }
};

}  // namespace

// ICU calendars are not thread-safe; one per zone value, used under its mutex.
struct Calendar::Zone {
  std::unique_ptr<icu::TimeZone> timeZone;
  mutable std::mutex mutex;
  mutable std::unique_ptr<icu::GregorianCalendar> calendar;

  int field(Date date, UCalendarDateFields which) const {
    std::lock_guard lock(mutex);
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(Milliseconds(date).whole, status);
    const int32_t value = calendar->get(which, status);
    return U_FAILURE(status) ? 0 : value;
  }
};

Calendar::Calendar(std::shared_ptr<const Zone> zone) : m_zone(std::move(zone)) {}

namespace {

// What the host's time zone is found from: $TZ, then /etc/localtime (a link to a zone file, or a
// copy of one) and /etc/timezone. Equal sources give the same zone.
struct ZoneSource {
  struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t seconds = 0, nanoseconds = 0;
    bool operator==(const Stamp&) const = default;
  };
  std::optional<std::string> tz;
  Stamp localtime, localtimeTarget, timezone;
  std::string link;
  bool operator==(const ZoneSource&) const = default;

  static Stamp stamp(const char* path, bool follow) {
    struct stat status {};
    if ((follow ? ::stat(path, &status) : ::lstat(path, &status)) != 0) return {};
    return {true,
            status.st_dev,
            status.st_ino,
            status.st_size,
            static_cast<std::int64_t>(status.st_mtim.tv_sec),
            static_cast<std::int64_t>(status.st_mtim.tv_nsec)};
  }

  static ZoneSource now() {
    ZoneSource source;
    if (const char* tz = std::getenv("TZ")) source.tz = tz;
    source.localtime = stamp("/etc/localtime", false);
    source.localtimeTarget = stamp("/etc/localtime", true);
    source.timezone = stamp("/etc/timezone", false);
    char target[4096];
    const ssize_t length = ::readlink("/etc/localtime", target, sizeof target);
    if (length > 0) source.link.assign(target, static_cast<std::size_t>(length));
    return source;
  }
};

}  // namespace

Calendar Calendar::current() {
  // Finding the host's zone reads and compares zone files, and a calendar takes a while to
  // build: both are done again only when what the zone is found from changed. ICU caches its
  // default zone for the life of the process; asking for the host's zone follows a $TZ changed
  // meanwhile.
  struct Cache {
    std::mutex mutex;
    std::optional<ZoneSource> source;
    std::shared_ptr<const Zone> zone;
  };
  static Cache& cache = *new Cache();  // never destroyed: a late timeout loser may still ask
  ZoneSource source = ZoneSource::now();
  std::lock_guard lock(cache.mutex);
  if (cache.source == source) return Calendar(cache.zone);
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
  if (!zone || isUnknown(*zone)) {
    zone.reset(icu::TimeZone::getGMT()->clone());
  }
  auto made = std::make_shared<Zone>();
  UErrorCode status = U_ZERO_ERROR;
  made->calendar = std::make_unique<icu::GregorianCalendar>(*zone, status);
  // Proleptic Gregorian throughout, like RFC 3339, rather than Julian before 1582.
  made->calendar->setGregorianChange(kProlepticChange, status);
  made->timeZone = std::move(zone);
  cache.source = std::move(source);
  cache.zone = made;
  return Calendar(std::move(made));
}

std::optional<Calendar> Calendar::withTimeZone(std::string_view identifier) {
  if (identifier.empty()) return std::nullopt;
  const icu::UnicodeString id = icu::UnicodeString::fromUTF8(
      icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())));
  // ICU answers an unknown identifier with the "Etc/Unknown" zone (offset 0), never nothing.
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
  if (!zone || isUnknown(*zone)) return std::nullopt;
  auto made = std::make_shared<Zone>();
  UErrorCode status = U_ZERO_ERROR;
  made->calendar = std::make_unique<icu::GregorianCalendar>(*zone, status);
  // Proleptic Gregorian throughout, like RFC 3339, rather than Julian before 1582.
  made->calendar->setGregorianChange(kProlepticChange, status);
  if (U_FAILURE(status)) return std::nullopt;
  made->timeZone = std::move(zone);
  return Calendar(std::move(made));
}

std::string Calendar::timeZoneIdentifier() const {
  return identifierOf(*m_zone->timeZone);
}

int Calendar::offsetSeconds(Date date) const {
  std::lock_guard lock(m_zone->mutex);
  int32_t raw = 0, dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  m_zone->timeZone->getOffset(Milliseconds(date).whole, false, raw, dst, status);
  if (U_FAILURE(status)) return 0;
  return (raw + dst) / 1000;
}

int Calendar::weekday(Date date) const {
  return m_zone->field(date, UCAL_DAY_OF_WEEK);
}
int Calendar::hour(Date date) const {
  return m_zone->field(date, UCAL_HOUR_OF_DAY);
}
int Calendar::minute(Date date) const {
  return m_zone->field(date, UCAL_MINUTE);
}
int Calendar::day(Date date) const {
  return m_zone->field(date, UCAL_DATE);
}
int Calendar::month(Date date) const {
  return m_zone->field(date, UCAL_MONTH) + 1;
}
int Calendar::year(Date date) const {
  return m_zone->field(date, UCAL_EXTENDED_YEAR);
}

Date Calendar::adding(Unit unit, int count, Date date) const {
  UCalendarDateFields which = UCAL_HOUR_OF_DAY;
  switch (unit) {
    case Unit::hour:
      which = UCAL_HOUR_OF_DAY;  // elapsed hours: ICU adds hours as time, not wall-clock
      break;
    case Unit::day:
      which = UCAL_DATE;
      break;
    case Unit::week:
      which = UCAL_WEEK_OF_YEAR;
      break;
    case Unit::month:
      which = UCAL_MONTH;
      break;
  }
  std::lock_guard lock(m_zone->mutex);
  const Milliseconds ms(date);
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar& calendar = *m_zone->calendar;
  calendar.setTime(ms.whole, status);
  calendar.add(which, count, status);
  const UDate result = calendar.getTime(status);
  if (U_FAILURE(status)) return date;
  return Date{(result + ms.rest) / 1000.0};
}

Date Calendar::startOfDay(Date date) const {
  std::lock_guard lock(m_zone->mutex);
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar& calendar = *m_zone->calendar;
  calendar.setTime(Milliseconds(date).whole, status);
  // Where midnight is skipped by a daylight-saving change, ICU moves to the first valid time.
  calendar.set(UCAL_HOUR_OF_DAY, 0);
  calendar.set(UCAL_MINUTE, 0);
  calendar.set(UCAL_SECOND, 0);
  calendar.set(UCAL_MILLISECOND, 0);
  const UDate result = calendar.getTime(status);
  if (U_FAILURE(status)) return date;
  return Date{result / 1000.0};
}

}  // namespace linkferry

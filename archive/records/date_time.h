// Date-time values and the MS-DOS date and time of the ZIP records.
//
// A TDateTime counts days since 30 December 1899, the fraction being the time of day; 0 is therefore
// 30.12.1899 00:00. MS-DOS date and time are one 32-bit value, date in the high half (bits 15-9 year-1980,
// 8-5 month, 4-0 day) and time in the low half (bits 15-11 hours, 10-5 minutes, 4-0 seconds/2).
#pragma once

#include <cstdint>

namespace archive {

using TDateTime = double;

struct DateTimeParts {
    int year, month, day, hour, minute, second, millisecond;
};

// False when a field is out of range or the day does not exist in that month.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& out);
DateTimeParts DecodeDateTime(TDateTime value);

// The date-time of an MS-DOS value; false when its date or time does not exist.
bool DosToDateTime(uint32_t dos, TDateTime& out);
// The MS-DOS value of a date-time (years outside 1980..2107 are clamped; seconds rounded down to even).
uint32_t DateTimeToDos(TDateTime value);

// The correction applied to every MS-DOS value read from a record: hours above 23 become 23, minutes and
// seconds above 59 become 59, a year above 2099 becomes 2099, a month above 12 becomes 12, month 0 and
// day 0 become 1. A value that needs no correction comes back exactly as given.
uint32_t NormalizeDosDateTime(uint32_t dos);

// The current local date and time.
TDateTime Now();

// part x 100 / whole rounded to nearest with halves to even, capped at 100; 0 when whole <= 0.
int PercentOf(int64_t part, int64_t whole);

}  // namespace archive

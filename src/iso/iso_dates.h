// Dates written into images: the 17-byte volume date and the 7-byte record date,
// both in local time with the offset from GMT in 15-minute units.
#pragma once

#include <cstdint>
#include <ctime>

// Offset of local time from GMT in 15-minute units, from the two broken-down times of
// one instant. Whole hours only: minutes of a zone's offset are not counted.
int8_t gmtOffsetQuarterHours(const std::tm& local, const std::tm& gmt);

// 17 bytes: year (4 digits), month, day, hour, minute, second (2 digits each),
// hundredths "00", then the GMT offset byte.
void makeVolumeDate(uint8_t* date, std::time_t now);
void makeVolumeDate(uint8_t* date);

// 7 bytes: years since 1900, month 1 to 12, day, hour, minute, second, GMT offset byte.
void makeRecordDate(uint8_t* date, std::time_t now);
void makeRecordDate(uint8_t* date);

#include "iso/iso_dates.h"

#include <cstdio>
#include <cstring>

namespace {

void brokenDownTimes(std::time_t now, std::tm& local, std::tm& gmt) {
    localtime_r(&now, &local);
    gmtime_r(&now, &gmt);
}

bool localDateIsLater(const std::tm& local, const std::tm& gmt) {
    if (local.tm_year != gmt.tm_year) {
        return local.tm_year > gmt.tm_year;
    }
    return local.tm_mon > gmt.tm_mon;
}

}  // namespace

int8_t gmtOffsetQuarterHours(const std::tm& local, const std::tm& gmt) {
    int hours = 0;
    if (local.tm_mon == gmt.tm_mon && local.tm_year == gmt.tm_year) {
        hours = (local.tm_mday - gmt.tm_mday) * 24 + local.tm_hour - gmt.tm_hour;
    } else {
        hours = local.tm_hour - gmt.tm_hour + (localDateIsLater(local, gmt) ? 24 : -24);
    }
    return static_cast<int8_t>(hours * 4);
}

void makeVolumeDate(uint8_t* date, std::time_t now) {
    std::tm local{};
    std::tm gmt{};
    brokenDownTimes(now, local, gmt);
    char digits[64];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00",
                  (local.tm_year + 1900) % 10000, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    std::memcpy(date, digits, 16);
    date[16] = static_cast<uint8_t>(gmtOffsetQuarterHours(local, gmt));
}

void makeVolumeDate(uint8_t* date) {
    makeVolumeDate(date, std::time(nullptr));
}

void makeRecordDate(uint8_t* date, std::time_t now) {
    std::tm local{};
    std::tm gmt{};
    brokenDownTimes(now, local, gmt);
    date[0] = static_cast<uint8_t>(local.tm_year);
    date[1] = static_cast<uint8_t>(local.tm_mon + 1);
    date[2] = static_cast<uint8_t>(local.tm_mday);
    date[3] = static_cast<uint8_t>(local.tm_hour);
    date[4] = static_cast<uint8_t>(local.tm_min);
    date[5] = static_cast<uint8_t>(local.tm_sec);
    date[6] = static_cast<uint8_t>(gmtOffsetQuarterHours(local, gmt));
}

void makeRecordDate(uint8_t* date) {
    makeRecordDate(date, std::time(nullptr));
}

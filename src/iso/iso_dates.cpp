#include "iso/iso_dates.h"

#include "iso/records.h"

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

namespace {

iso_record::DateFields localDate(std::time_t now) {
    std::tm local{};
    std::tm gmt{};
    brokenDownTimes(now, local, gmt);
    iso_record::DateFields date;
    date.yearsSince1900 = local.tm_year;
    date.month = local.tm_mon + 1;
    date.day = local.tm_mday;
    date.hour = local.tm_hour;
    date.minute = local.tm_min;
    date.second = local.tm_sec;
    date.gmtOffset = gmtOffsetQuarterHours(local, gmt);
    return date;
}

}  // namespace

void makeVolumeDate(uint8_t* date, std::time_t now) {
    iso_record::encodeVolumeDate(localDate(now), date);
}

void makeVolumeDate(uint8_t* date) {
    makeVolumeDate(date, std::time(nullptr));
}

void makeRecordDate(uint8_t* date, std::time_t now) {
    iso_record::encodeRecordDate(localDate(now), date);
}

void makeRecordDate(uint8_t* date) {
    makeRecordDate(date, std::time(nullptr));
}

#include "iso/iso_dates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Sets TZ for the lifetime of the object.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone) : hadOld_(std::getenv("TZ") != nullptr) {
        old_ = hadOld_ ? std::getenv("TZ") : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        hadOld_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    bool hadOld_;
    std::string old_;
};

// 2007-03-05 13:07:09 UTC
constexpr std::time_t kMarch2007 = 1173100029;
// 2006-12-31 23:30:00 UTC, past GMT midnight for zones west of it an hour later
constexpr std::time_t kNewYearUtc = 1167607800 + 3600;  // 2007-01-01 00:30 UTC

}  // namespace

TEST(IsoDates, VolumeDateHoldsLocalDigitsAndTheOffsetOneHourEast) {
    ZoneScope zone("CET-1");
    uint8_t date[17];
    makeVolumeDate(date, kMarch2007);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(date), 16), "2007030514070900");
    EXPECT_EQ(static_cast<int8_t>(date[16]), 4);

    uint8_t record[7];
    makeRecordDate(record, kMarch2007);
    const uint8_t expected[7] = {107, 3, 5, 14, 7, 9, 4};
    EXPECT_EQ(0, std::memcmp(record, expected, 7));
}

TEST(IsoDates, FiveHoursWestIsMinusTwentyAlsoAcrossTheYearBoundary) {
    ZoneScope zone("EST5");
    uint8_t record[7];
    makeRecordDate(record, kMarch2007);
    EXPECT_EQ(record[3], 8);
    EXPECT_EQ(record[6], 0xEC);

    makeRecordDate(record, kNewYearUtc);  // local 2006-12-31 19:30
    EXPECT_EQ(std::vector<uint8_t>(record, record + 3), (std::vector<uint8_t>{106, 12, 31}));
    EXPECT_EQ(static_cast<int8_t>(record[6]), -20);

    uint8_t volume[17];
    makeVolumeDate(volume, kNewYearUtc);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(volume), 16), "2006123119300000");
    EXPECT_EQ(static_cast<int8_t>(volume[16]), -20);
}

TEST(IsoDates, OffsetRuleOverDayAndMonthBoundaries) {
    std::tm local{};
    std::tm gmt{};
    local.tm_year = gmt.tm_year = 107;
    local.tm_mon = gmt.tm_mon = 2;
    local.tm_mday = 6;
    gmt.tm_mday = 5;
    local.tm_hour = 1;
    gmt.tm_hour = 22;
    EXPECT_EQ(gmtOffsetQuarterHours(local, gmt), 3 * 4);  // next day, three hours ahead
    local.tm_mon = 3;
    local.tm_mday = 1;
    gmt.tm_mday = 31;
    EXPECT_EQ(gmtOffsetQuarterHours(local, gmt), 3 * 4);  // next month
    std::swap(local, gmt);
    EXPECT_EQ(gmtOffsetQuarterHours(local, gmt), -3 * 4);
}

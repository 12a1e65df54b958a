// The value rules of the field types.
#include <gtest/gtest.h>

#include "core/values/FieldValue.h"

TEST(DateTimes, EveryFormADriverGivesLoadsAndNonsenseIsStillRefused)
{
    const QDateTime noon(QDate(2026, 5, 22), QTime(12, 30, 15));
    const std::pair<const char*, QDateTime> good[] = {
        {"2026-05-22T12:30:15", noon},
        {"2026-05-22 12:30:15", noon},
        {"2026-05-22T12:30:15.000", noon},
        {"2026-05-22 12:30:15.250", noon.addMSecs(250)},
        {"2026-05-22T12:30:15.123456", noon.addMSecs(123)},
        {"2026-05-22T12:30", QDateTime(QDate(2026, 5, 22), QTime(12, 30))},
        {"2026-05-22", QDate(2026, 5, 22).startOfDay()},
        {"22/05/2026 12:30:15", noon},
        {"22/05/2026", QDate(2026, 5, 22).startOfDay()},
    };
    for (const auto& [text, expected] : good) {
        bool ok = false;
        const QVariant v = fw::convertValue(QString::fromLatin1(text), fw::FieldType::DateTime, &ok);
        EXPECT_TRUE(ok) << text;
        EXPECT_EQ(v.toDateTime(), expected) << text;
    }
    // With an offset: the same instant, in local time.
    const QDateTime utc(QDate(2026, 5, 22), QTime(15, 30, 15), Qt::UTC);
    for (const char* text : {"2026-05-22T12:30:15-03:00", "2026-05-22T15:30:15Z", "2026-05-22 12:30:15-0300",
                             "2026-05-22T12:30:15.000-03"}) {
        bool ok = false;
        const QVariant v = fw::convertValue(QString::fromLatin1(text), fw::FieldType::DateTime, &ok);
        EXPECT_TRUE(ok) << text;
        EXPECT_EQ(v.toDateTime().toUTC(), utc) << text;
    }
    // A PostgreSQL timestamp arrives as a date-time already.
    bool ok = false;
    EXPECT_EQ(fw::convertValue(QVariant(noon), fw::FieldType::DateTime, &ok).toDateTime(), noon);
    for (const char* bad :
         {"2026-02-30T10:00:00", "2026-05-22T25:00:00", "22 de maio", "2026-05-22T12:30:15+5", "2026-05-22X12:30"}) {
        fw::convertValue(QString::fromLatin1(bad), fw::FieldType::DateTime, &ok);
        EXPECT_FALSE(ok) << bad;
    }
}

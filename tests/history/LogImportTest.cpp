// A new database is first filled from the event log the program itself wrote, in the Turkish locale.
#include "HistoryFixture.h"
#include "platform/Logger.h"
#include "platform/UserLocale.h"
#include <gtest/gtest.h>
#include <QFile>

namespace {
// Before main, so the user's formats the logger and the import ask for are Turkish ones.
const bool turkish = qputenv("LC_ALL", "tr_TR.UTF-8");

void Append(const QString &path, const char *text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(text);
}
} // namespace

TEST(LogImport, SeedsANewDatabaseFromTheProgramsOwnLog)
{
    ASSERT_TRUE(turkish);
    ASSERT_EQ(UserLocale().language(), QLocale::Turkish);
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("ZYRdenetleyici.log"));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    {
        TLogger logger(log);
        logger.Log(QStringLiteral("Program açıldı"));
        const char *texts[] = {"Çalışıyor", "Aygıt eksik tespit edildi", "Çalışmıyor",
            "Aygıt fazla tespit edildi", "Alarm tespit edildi"};
        for (int i = 0; i < 5; ++i) {
            logger.LogFmt("Denetleme başladı. IP: %s", QStringLiteral("10.0.0.%1").arg(i + 1));
            logger.LogFmt("Denetleme bitti. IP: %s Sonuç: %s", QStringLiteral("10.0.0.%1").arg(i + 1),
                QString::fromUtf8(texts[i]));
        }
    }
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    // A line stamped at midnight carries the date alone, as the logger writes it; then lines that are not
    // check results: a result that is no state, a day that does not exist, a line with no stamp, junk.
    Append(log,
        "5.12.2026 Denetleme bitti. IP: 10.0.0.7 Sonuç: Çalışmıyor\r\n"
        "5.12.2026 14:30:00 Denetleme bitti. IP: 10.0.0.8:17001 Sonuç: Çalışıyor\r\n"
        "5.12.2026 14:31:00 Denetleme bitti. IP: 10.0.0.8 Sonuç: Denetlenmemiş\r\n"
        "31.02.2026 10:00:00 Denetleme bitti. IP: 10.0.0.9 Sonuç: Çalışıyor\r\n"
        "Denetleme bitti. IP: 10.0.0.9 Sonuç: Çalışıyor\r\n"
        "\r\n\x01\xff garbage\r\n");
    const QString db = dir.filePath(QStringLiteral("ZYRdenetleyici.db"));
    TReported reported;
    {
        THistoryStore store(db, reported.Sink(), log, 5);
    }
    // 1 opening + 5 started lines, 1 no-state, 1 bad day, 1 no stamp, 1 junk: 10 skipped.
    EXPECT_EQ(reported.Lines(),
        QStringList{QStringLiteral("Geçmiş bilgi dosyasından alındı: 7 satır okundu, 10 satır atlandı")});

    THistoryReader reader(db);
    const int states[] = {3, 4, 1, 5, 6};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const auto changes = reader.Changes(QStringLiteral("10.0.0.%1").arg(i + 1), after + 1);
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].After, states[i]);
        EXPECT_EQ(changes[0].Origin, THistoryOrigin::Log);
        EXPECT_GE(changes[0].Time, before);
        EXPECT_LE(changes[0].Time, after);
    }
    const auto midnight = reader.Changes(QStringLiteral("10.0.0.7"), LocalTime(2026, 12, 5, 1));
    ASSERT_EQ(midnight.size(), 1u);
    EXPECT_EQ(midnight[0].Time, LocalTime(2026, 12, 5));
    EXPECT_EQ(midnight[0].Lasted, 600); // the hold of the Period given for the log, 5 minutes
    const auto withPort = reader.Changes(QStringLiteral("10.0.0.8:17001"), LocalTime(2026, 12, 5, 15));
    ASSERT_EQ(withPort.size(), 1u);
    EXPECT_EQ(withPort[0].Time, LocalTime(2026, 12, 5, 14, 30));
    EXPECT_EQ(withPort[0].After, 3);

    // An existing database is not seeded again.
    TReported again;
    {
        THistoryStore store(db, again.Sink(), log, 5);
    }
    EXPECT_TRUE(again.Lines().isEmpty());
    EXPECT_EQ(THistoryReader(db)
                  .Totals(QStringLiteral("10.0.0.7"), LocalTime(2026, 12, 5), LocalTime(2026, 12, 6),
                      LocalTime(2026, 12, 6))
                  .Results[1],
        1);
}

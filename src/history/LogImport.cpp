#include "LogImport.h"
#include "platform/Logger.h"
#include "platform/UserLocale.h"
#include <algorithm>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

namespace {
const QString kResultMark = QStringLiteral(" Denetleme bitti. IP: ");
const QString kStateMark = QStringLiteral(" Sonuç: ");

int StateOf(const QString &text)
{
    static const struct
    {
        const char16_t *text;
        int state;
    } states[] = {{u"Çalışmıyor", 1}, {u"Çalışıyor", 3}, {u"Aygıt eksik tespit edildi", 4},
        {u"Aygıt fazla tespit edildi", 5}, {u"Alarm tespit edildi", 6}};
    for (const auto &s : states)
        if (text == QStringView(s.text))
            return s.state;
    return -1;
}

// As the logger stamps a line: short date, and the long time without its zone, left out at midnight.
bool ReadStamp(const QString &stamp, qint64 &time)
{
    static const QLocale locale = UserLocale();
    const QString &dateFormat = TLogger::StampDateFormat();
    const QString &timeFormat = TLogger::StampTimeFormat();
    QDateTime when = locale.toDateTime(stamp, dateFormat + QLatin1Char(' ') + timeFormat);
    if (!when.isValid()) {
        const QDate day = locale.toDate(stamp, dateFormat);
        if (!day.isValid())
            return false;
        when = day.startOfDay();
    }
    time = when.toSecsSinceEpoch();
    return true;
}
} // namespace

TLogImport ReadLogResults(const QString &logPath, int period)
{
    TLogImport out;
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype mark = line.indexOf(kResultMark);
        const qsizetype stateAt = line.lastIndexOf(kStateMark);
        THistoryResult r;
        if (mark > 0 && stateAt > mark + kResultMark.size()) {
            r.Address = line.mid(mark + kResultMark.size(), stateAt - mark - kResultMark.size());
            r.State = StateOf(line.mid(stateAt + kStateMark.size()));
        } else {
            r.State = -1;
        }
        if (r.State < 0 || !ReadStamp(line.left(mark), r.Time)) {
            ++out.Skipped;
            continue;
        }
        r.Name = r.Address;
        r.Origin = THistoryOrigin::Log;
        r.Period = period;
        out.Results.push_back(std::move(r));
        ++out.Read;
    }
    std::stable_sort(out.Results.begin(), out.Results.end(),
        [](const THistoryResult &a, const THistoryResult &b) { return a.Time < b.Time; });
    return out;
}

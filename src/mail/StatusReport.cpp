#include "mail/StatusReport.h"
#include "platform/Errors.h"
#include "platform/Format.h"
#include "platform/ItemParser.h"
#include "platform/Logger.h"
#include "platform/UserLocale.h"
#include "platform/Version.h"
#include "records/SystemList.h"
#include "report/PlusDetails.h"
#include "report/UtilsCheckZYR.h"
#include "store/Settings.h"
#include <cstdlib>
#include <QDateTime>
#include <QLocale>

namespace {

constexpr const char *kTableStart
    = "<table border=\"1\" cellspacing=\"0\" cellpadding=\"0\" style=\"background-color: #EFEFEF\">";
constexpr const char *kHeaderRow
    = "<tr><th width=\"150\" align=\"left\">İsim</th><th width=\"150\" align=\"left\">IP Adresi</th>"
      "<th align=\"left\">Durum</th><th width=\"150\" align=\"left\">Denetleme Zamanı</th></tr>";
constexpr const char *kTableEnd = "</table>";

// A record's state code; a code outside the table (a record left in state 7 by a check cycle it
// was not part of) is shown as not checked.
int ReportState(const TSystemList &List, int Position)
{
    const double value = List.CellAsNumber(Position, TSystemRecord::State);
    const int state = int(value);
    return state >= csNotChecked && state <= csAlarm ? state : csNotChecked;
}

int ExpectedDeviceCount(const TSystemList &List, int Position)
{
    const QString text = List.Cell(Position, TSystemRecord::DeviceCnt);
    int32_t value = 0;
    if (!ReadInteger(text, value))
        throw EZyrError(Format("'%s' is not a valid integer value", text));
    return value;
}

} // namespace

QString StateColour(int State)
{
    static const char *const colours[]
        = {"#EFEFEF", "#FF0000", "#00FF00", "#00FF00", "#FF0000", "#FF0000", "#FF0000"};
    return QString::fromLatin1(colours[State >= 0 && State <= 6 ? State : 0]);
}

TMailText BuildStatusReport(const TLiveSettings &Settings, const TSystemList &List, const QString &Recipient,
    const QString &Records, TMailObjects &Objects)
{
    TMailText mail;
    if (Settings.To().isEmpty() && Recipient.isEmpty())
        return mail;
    try {
        mail.Subject = GetCaption() + QStringLiteral(" sonuçları");
        mail.Body.append(QString::fromUtf8(kTableStart));
        mail.Body.append(QString::fromUtf8(kHeaderRow));

        TItemParser parser(Records, QLatin1Char(','));
        while (parser.HasMore()) {
            const int position = parser.NextInt(0);
            const TSystemRecord &record = List.Record(position);
            const int state = ReportState(List, position);
            const bool plus = List.CellAsFlag(position, TSystemRecord::ColZYRplus);
            const QString details = record.Cell(TSystemRecord::Details);
            QString stateText = StateDescription(state);

            if (state == csDevicesMissing || state == csDevicesExcess) {
                try {
                    const int expected = ExpectedDeviceCount(List, position);
                    const int reported
                        = plus ? TGetPlusDetails(details).DeviceCount() : TGetDetails(details).DeviceCount;
                    stateText = Format("%d %s", std::abs(expected - reported), stateText);
                } catch (const std::exception &error) {
                    LogError(10003, QString::fromUtf8(error.what()));
                }
            }

            stateText += record.Cell(kStateMarkCell);

            const QString name = record.Cell(TSystemRecord::Name);
            const QString ip = record.Cell(TSystemRecord::IP);
            mail.Body.append(Format("<tr><td>%s</td><td>%s</td><td style=\"background-color: "
                                    "%s\">%s&nbsp;&nbsp;</td><td>%s</td></tr>",
                name, ip, StateColour(state), stateText, record.Cell(TSystemRecord::ColDateTime)));
            mail.Summary.append(name + QStringLiteral(", ") + ip + QStringLiteral(", ") + stateText);

            if (state >= csWorkingReport && state <= csAlarm && !details.trimmed().isEmpty()) {
                if (!plus) {
                    const TGetDetails report(details);
                    mail.Body.append(report.MailHtml());
                    report.TextLines(mail.Summary);
                } else {
                    mail.Body.append(TGetPlusDetails(details).MailHtml());
                }
            }
        }
        mail.Body.append(QString::fromUtf8(kTableEnd));
        SendMail(Objects, MailSettingsOf(Settings), mail, Recipient);
        Log(QStringLiteral("E-posta gönderildi"));
    } catch (const std::exception &error) {
        LogFmt("E-posta gönderiminde hata: %s", QString::fromUtf8(error.what()));
    }
    return mail;
}

TMailText TestMailText()
{
    const QString caption = GetCaption();
    const QChar date = UserDateSeparator();
    const QChar time = UserTimeSeparator();
    const QString pattern = QStringLiteral("dd'%1'MM'%1'yyyy  HH'%2'mm'%2'ss").arg(date, time);
    TMailText mail;
    mail.Subject = caption + QStringLiteral(" test e-postası");
    mail.Body = QStringList{QLocale::c().toString(QDateTime::currentDateTime(), pattern)
        + QStringLiteral(" : ") + Format("%s tarafından gönderilmiş bir test e-postasıdır...", caption)};
    return mail;
}

bool SendTestMail(
    const TLiveSettings &Settings, const TMailText &Text, QString &Failure, TMailObjects &Objects)
{
    try {
        SendMail(Objects, MailSettingsOf(Settings), Text, QString());
        Log(QStringLiteral("E-posta gönderildi"));
        return true;
    } catch (const std::exception &error) {
        Failure = QString::fromUtf8(error.what());
        LogFmt("E-posta gönderiminde hata: %s", Failure);
        return false;
    }
}

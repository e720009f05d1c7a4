#include "mail/StatusMails.h"
#include "mail/StatusReport.h"
#include "records/SystemList.h"
#include "store/Settings.h"
#include <utility>
#include <vector>

QString RecipientRecords(
    const TLiveSettings &Settings, const TSystemList &List, const QString &Address, bool Ticked)
{
    QStringList taken;
    const bool alarmsOnly = Settings.MailAfterCtrl == 1;
    for (int position = 0; position < List.Count(); ++position) {
        if (List.CellAsNumber(position, TSystemRecord::Select) != 1)
            continue;
        if (alarmsOnly && !IsAlarmState(int(List.CellAsNumber(position, TSystemRecord::State))))
            continue;
        // Whole addresses only: b@x.com must not receive the records of ab@x.com.
        const QString email = List.Cell(position, TSystemRecord::Email);
        if ((Ticked && email.isEmpty()) || AddressTextContains(email, Address))
            taken.append(QString::number(position));
    }
    return taken.join(QLatin1Char(','));
}

void SendStatusMails(const TLiveSettings &Settings, const TSystemList &List, TMailObjects &Objects)
{
    std::vector<std::pair<QString, QString>> due;
    const TCheckList &addresses = Settings.Emails;
    for (int i = 0; i < addresses.Count(); ++i) {
        const QString records = RecipientRecords(Settings, List, addresses.Text(i), addresses.Checked(i));
        if (!records.isEmpty())
            due.emplace_back(addresses.Text(i), records);
    }
    for (const auto &[address, records] : due) {
        if (Objects.Cancel.Triggered())
            break; // the program is ending: the addresses left are not tried
        BuildStatusReport(Settings, List, address, records, Objects);
    }
}

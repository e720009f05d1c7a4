#pragma once
#include "mail/MailSend.h"
#include <QString>

class TLiveSettings;
class TSystemList;

// The positions of the marked records one notification address is to hear about, joined by ",".
// A ticked (default) address also hears about the records that name no address. Raises EZyrError
// when a Select or State cell is no number.
QString RecipientRecords(
    const TLiveSettings &Settings, const TSystemList &List, const QString &Address, bool Ticked);

// One status mail per concerned address, in the order of the address list. A selection error
// leaves the call; each mail's own failure is logged and the next address is served. Once the objects'
// Cancel is triggered no further address is tried.
void SendStatusMails(const TLiveSettings &Settings, const TSystemList &List, TMailObjects &Objects);

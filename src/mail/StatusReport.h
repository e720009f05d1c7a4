#pragma once
#include "mail/MailSend.h"
#include <QString>

class TLiveSettings;
class TSystemList;

// A cell past the list's own in the rows a status mail is composed from: a text the state's text gets
// (" (bakımda)" and the like), written by the engine into its copy of the rows.
inline constexpr int kStateMarkCell = 9;

// Composes the HTML status report of the records at the given positions (decimal numbers joined by
// ","), sends it to the recipient and logs the outcome. No error leaves the call; it returns the texts
// composed (none when there is no recipient).
TMailText BuildStatusReport(const TLiveSettings &Settings, const TSystemList &List, const QString &Recipient,
    const QString &Records, TMailObjects &Objects);

// The test mail's texts, dated now.
TMailText TestMailText();
// Sends the test mail (Text: TestMailText) to the first ticked address. False with the delivery's
// message on failure.
bool SendTestMail(
    const TLiveSettings &Settings, const TMailText &Text, QString &Failure, TMailObjects &Objects);

// The colour of a state's cell in the report; states without one are drawn as "Denetlenmemiş".
QString StateColour(int State);

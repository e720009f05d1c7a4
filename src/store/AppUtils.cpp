#include "store/AppUtils.h"
#include "platform/Autostart.h"
#include "platform/Errors.h"
#include "platform/ItemParser.h"
#include "platform/Logger.h"

void UncheckAll(TCheckList &List)
{
    for (int i = 0; i < List.Count(); ++i)
        List.SetChecked(i, false);
}

QString GetCheckedList(const TCheckList &List)
{
    QString text;
    for (int i = 0; i < List.Count(); ++i)
        if (List.Checked(i))
            text += List.Text(i) + QLatin1Char(',');
    text.chop(1);
    return text;
}

void SetCheckedList(TCheckList &List, const QString &Addresses)
{
    UncheckAll(List);
    TItemParser parser(Addresses, QLatin1Char(','));
    while (parser.HasMore()) {
        const QString item = parser.NextItem();
        if (const int index = List.IndexOf(item); index >= 0) {
            List.SetChecked(index, true);
            continue;
        }
        // An apostrophe in one address makes the tokenizer swallow the rest of the text as one item;
        // the addresses after it must still get their ticks.
        for (const QString &part : item.split(QLatin1Char(',')))
            if (const int index = List.IndexOf(part); index >= 0)
                List.SetChecked(index, true);
    }
}

bool IsInvalidEmail(const QString &Address)
{
    // Upper- and lower-case forms both, as lower-casing in the Turkish code page makes them equal.
    static const QString refused = QStringLiteral(" äöüß[]()ğşç:ÄÖÜĞŞÇ");
    // Stored forms would break: "," separates addresses in the lists, "=" ends an INI key name,
    // and control characters would split lines of the settings file or of an SMTP command.
    static const QString breaksStorage = QStringLiteral(",=");
    for (const QChar c : Address)
        if (refused.contains(c) || breaksStorage.contains(c) || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    if (Address.contains(QChar(0x130)) || Address.contains(QChar(0x131)))
        return true;
    const qsizetype at = Address.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == Address.size() - 1)
        return true;
    const QString domain = Address.mid(at + 1);
    if (domain.contains(QLatin1Char('@')) || domain.size() < 2)
        return true;
    const qsizetype dot = domain.indexOf(QLatin1Char('.'));
    return dot <= 0 || dot == domain.size() - 1;
}

void CreateStartupShortcut(const QString &Name)
{
    try {
        CreateStartupEntry(Name);
    } catch (const EZyrError &e) {
        LogError(10006, e.Message());
    } catch (const std::exception &e) {
        LogError(10006, QString::fromUtf8(e.what()));
    }
}

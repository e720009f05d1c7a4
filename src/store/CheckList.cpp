#include "store/CheckList.h"
#include <stdexcept>

void TCheckList::SetChecked(int Index, bool Checked)
{
    TItem &item = items.at(size_t(Index));
    if (item.Checked == Checked)
        return;
    item.Checked = Checked;
}

int TCheckList::Add(const QString &Text)
{
    size_t at = 0;
    while (at < items.size() && items[at].Text.compare(Text, Qt::CaseInsensitive) <= 0)
        ++at;
    items.insert(items.begin() + qsizetype(at), TItem{Text, false});
    return int(at);
}

void TCheckList::Delete(int Index)
{
    if (Index < 0 || size_t(Index) >= items.size())
        throw std::out_of_range("TCheckList::Delete");
    items.erase(items.begin() + Index);
}

void TCheckList::Clear()
{
    items.clear();
}

int TCheckList::IndexOf(const QString &Text) const
{
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].Text.compare(Text, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QStringList TCheckList::Items() const
{
    QStringList texts;
    texts.reserve(qsizetype(items.size()));
    for (const TItem &item : items)
        texts.append(item.Text);
    return texts;
}

#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// An address list with ticks, kept sorted ignoring letter case the way a sorted list box is.
// Plain data: the dialogs show it, the settings store and the record editor fill and read it.
class TCheckList
{
public:
    int Count() const { return int(items.size()); }
    const QString &Text(int Index) const { return items.at(size_t(Index)).Text; }
    bool Checked(int Index) const { return items.at(size_t(Index)).Checked; }
    void SetChecked(int Index, bool Checked);

    // Inserts at the sorted place (after items that compare equal), unticked; returns the new index.
    int Add(const QString &Text);
    void Delete(int Index);
    void Clear();
    // Exact match of the whole text, ignoring letter case; -1 when not held.
    int IndexOf(const QString &Text) const;
    QStringList Items() const;

    bool operator==(const TCheckList &Other) const = default;

private:
    struct TItem
    {
        QString Text;
        bool Checked = false;
        bool operator==(const TItem &Other) const = default;
    };

    std::vector<TItem> items;
};

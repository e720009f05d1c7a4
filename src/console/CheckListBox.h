#pragma once
#include <QListWidget>

class TCheckList;

// Shows a TCheckList (an address list with ticks) and writes the user's ticks back into it. The list
// stays the owner of the items; whoever changes it refreshes the box. Every item's hint is its own text,
// so an address too long for the box can be read under the mouse pointer.
class TCheckListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit TCheckListBox(QWidget *Parent = nullptr);

    // Binds the box to List (null unbinds) and shows it.
    void SetList(TCheckList *List);
    TCheckList *List() const { return list; }

    // Rebuilds the items from the list, keeping the selected row where it can.
    void Refresh();

signals:
    // The user ticked or unticked an item; the list holds the tick.
    void Ticked();

private:
    void ItemChanged(QListWidgetItem *Item);

    TCheckList *list = nullptr;
    bool refreshing = false;
};

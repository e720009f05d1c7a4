#include "console/CheckListBox.h"
#include "store/CheckList.h"
#include <algorithm>

TCheckListBox::TCheckListBox(QWidget *Parent)
    : QListWidget(Parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemChanged, this, &TCheckListBox::ItemChanged);
}

void TCheckListBox::SetList(TCheckList *List)
{
    list = List;
    Refresh();
}

void TCheckListBox::Refresh()
{
    refreshing = true;
    const int selected = currentRow();
    clear();
    if (list) {
        for (int i = 0; i < list->Count(); ++i) {
            auto *item = new QListWidgetItem(list->Text(i), this);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(list->Checked(i) ? Qt::Checked : Qt::Unchecked);
            item->setToolTip(list->Text(i));
        }
    }
    if (selected >= 0 && count() > 0)
        setCurrentRow(std::min(selected, count() - 1));
    refreshing = false;
}

void TCheckListBox::ItemChanged(QListWidgetItem *Item)
{
    if (refreshing || !list)
        return;
    const int index = row(Item);
    if (index < 0 || index >= list->Count())
        return;
    const bool checked = Item->checkState() == Qt::Checked;
    if (list->Checked(index) == checked)
        return;
    // The box already shows the tick: no rebuilding, which would delete Item under the signal carrying it.
    list->SetChecked(index, checked);
    emit Ticked();
}

#include "console/ServiceList.h"
#include "console/Icons.h"
#include <algorithm>
#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QTimerEvent>

namespace {
// About one frame of a 60 Hz screen.
constexpr int FrameMs = 16;

// Cells shown as an image only.
bool ImageColumn(int column)
{
    return column == TSystemRecord::Select || column == TSystemRecord::State;
}

int StateCode(const QString &text)
{
    bool ok = false;
    const int code = text.trimmed().toInt(&ok);
    return ok ? code : -1;
}
} // namespace

TServiceListModel::TServiceListModel(TSystemList &List, QObject *parent)
    : QAbstractTableModel(parent)
    , list(List)
{
    list.SetObserver(this);
}

TServiceListModel::~TServiceListModel()
{
    list.SetObserver(nullptr);
}

int TServiceListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : list.Count();
}

int TServiceListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : TSystemRecord::ColumnCount;
}

QVariant TServiceListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= list.Count())
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return ImageColumn(column) ? QVariant() : QVariant(list.Cell(index.row(), column));
    case Qt::DecorationRole:
        if (column == TSystemRecord::Select)
            return Glyph(list.Cell(index.row(), column).trimmed() == QLatin1String("1") ? 4 : 3)
                .pixmap(16, 16);
        if (column == TSystemRecord::State) {
            const TRowMarks row = marks ? marks(index.row()) : TRowMarks();
            const QPixmap image = MarkedStateImage(StateCode(list.Cell(index.row(), column)), row.Unconfirmed,
                row.Acknowledged, row.Maintenance);
            return image.isNull() ? QVariant() : QVariant(image);
        }
        return {};
    case Qt::ToolTipRole: {
        // The dot tells its state and when it was checked last.
        if (column != TSystemRecord::State)
            return {};
        const QString state = StateDescription(StateCode(list.Cell(index.row(), column)));
        const QString time = list.Cell(index.row(), TSystemRecord::ColDateTime);
        const TRowMarks row = marks ? marks(index.row()) : TRowMarks();
        QStringList lines;
        if (!row.Confirming.isEmpty())
            lines << row.Confirming;
        if (!state.isEmpty())
            lines << state;
        if (!state.isEmpty() && !time.isEmpty())
            lines << time;
        lines << row.Notes;
        return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
    }
    case Qt::TextAlignmentRole:
        if (ImageColumn(column) || column == TSystemRecord::DeviceCnt)
            return int(Qt::AlignCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TServiceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    static const char *const captions[]
        = {"", "İsim", "IP Adresi", "Bildirim Adresleri", "Aygıt", "Durum", "Detay", "", ""};
    if (role == Qt::DisplayRole && section >= 0 && section < TSystemRecord::ColumnCount)
        return QString::fromUtf8(captions[section]);
    if (role == Qt::DecorationRole && section == TSystemRecord::Select)
        return Glyph(selectCaption == QLatin1String("1") ? 4 : 3);
    if (role == Qt::TextAlignmentRole && (ImageColumn(section) || section == TSystemRecord::DeviceCnt))
        return int(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags TServiceListModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

void TServiceListModel::SetSelectHeaderCaption(const QString &Caption)
{
    selectCaption = Caption;
    emit headerDataChanged(Qt::Horizontal, TSystemRecord::Select, TSystemRecord::Select);
}

void TServiceListModel::FlushChanges()
{
    frame.stop();
    if (changedFirst < 0)
        return;
    const int first = changedFirst, last = std::min(changedLast, list.Count() - 1);
    changedFirst = changedLast = -1;
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, TSystemRecord::ColumnCount - 1));
}

void TServiceListModel::timerEvent(QTimerEvent *Event)
{
    if (Event->timerId() == frame.timerId())
        FlushChanges();
    else
        QAbstractTableModel::timerEvent(Event);
}

void TServiceListModel::ListAboutToReset()
{
    // Rows named in a gathered change lose their meaning with the reset.
    frame.stop();
    changedFirst = changedLast = -1;
    beginResetModel();
}
void TServiceListModel::ListReset()
{
    endResetModel();
}
void TServiceListModel::RowAboutToBeInserted(int Position)
{
    FlushChanges();
    beginInsertRows({}, Position, Position);
}
void TServiceListModel::RowInserted(int)
{
    endInsertRows();
}
void TServiceListModel::RowAboutToBeRemoved(int Position)
{
    FlushChanges();
    beginRemoveRows({}, Position, Position);
}
void TServiceListModel::RowRemoved(int)
{
    endRemoveRows();
}
void TServiceListModel::RowsChanged(int First, int Last)
{
    changedFirst = changedFirst < 0 ? First : std::min(changedFirst, First);
    changedLast = std::max(changedLast, Last);
    if (!frame.isActive())
        frame.start(FrameMs, Qt::PreciseTimer, this);
}

void TServiceListDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    opt.state &= ~QStyle::State_HasFocus;
    if (!ImageColumn(index.column())) {
        QStyledItemDelegate::paint(painter, opt, index);
        return;
    }
    initStyleOption(&opt, index);
    opt.icon = QIcon();
    opt.features &= ~QStyleOptionViewItem::HasDecoration;
    opt.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QPixmap image = index.data(Qt::DecorationRole).value<QPixmap>();
    if (!image.isNull()) {
        const QSize size = image.deviceIndependentSize().toSize();
        const QRect target = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, option.rect);
        painter->drawPixmap(target, image);
    }
}

QSize TServiceListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(20);
    return size;
}

TServiceListView::TServiceListView(QWidget *parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("ServiceList"));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setItemDelegate(new TServiceListDelegate(this));
    setSortingEnabled(false); // the list sorts itself; a header click is handled by the window
    setIconSize(QSize(16, 16));

    QPalette pal = palette();
    pal.setColor(QPalette::Base, kEvenRowColor);
    pal.setColor(QPalette::AlternateBase, kOddRowColor);
    pal.setColor(QPalette::Text, Qt::black);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Highlight, kSelectedRowColor);
        pal.setColor(group, QPalette::HighlightedText, kSelectedTextColor);
    }
    setPalette(pal);

    QHeaderView *head = header();
    head->setSectionsClickable(true);
    head->setSortIndicatorShown(true);
    head->setHighlightSections(false);
    QFont bold = head->font();
    bold.setBold(true);
    head->setFont(bold);
    head->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: rgb(214, 223, 247); "
                                       "font-weight: bold; border: none; border-right: 1px solid #a9b5d6; "
                                       "border-bottom: 1px solid #a9b5d6; padding: 0 2px; }"));
}

void TServiceListView::SetUpColumns()
{
    QHeaderView *head = header();
    head->setStretchLastSection(false);
    head->setMinimumSectionSize(16);
    head->setSectionsMovable(false); // the state column may not be dragged
    for (int column : {TSystemRecord::Details, TSystemRecord::ColDateTime, TSystemRecord::ColZYRplus})
        setColumnHidden(column, true);
    struct TWidth
    {
        int Column;
        int Width;
        QHeaderView::ResizeMode Mode;
    };
    const TWidth widths[] = {
        {TSystemRecord::Select, 18, QHeaderView::Fixed},
        {TSystemRecord::Name, 75, QHeaderView::Interactive},
        {TSystemRecord::IP, 100, QHeaderView::Stretch},
        {TSystemRecord::Email, 200, QHeaderView::Interactive},
        {TSystemRecord::DeviceCnt, 46, QHeaderView::Fixed},
        {TSystemRecord::State, 45, QHeaderView::Fixed},
    };
    for (const TWidth &w : widths) {
        head->setSectionResizeMode(w.Column, w.Mode);
        head->resizeSection(w.Column, w.Width);
    }
}

void TServiceListView::dataChanged(
    const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    // The view finds what to repaint by looking at every row of a change; a frame's change spans thousands
    // of rows in a cycle, of which only those on screen can need a repaint (the others are drawn from the
    // model when they come into view). Screen readers hear of every row.
    if (isVisible() && topLeft.isValid() && bottomRight.isValid() && topLeft.row() < bottomRight.row()
        && !QAccessible::isActive()) {
        const QModelIndex top = indexAt(QPoint(0, 0));
        if (top.isValid()) {
            const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
            const int first = std::max(topLeft.row(), top.row());
            const int last
                = std::min(bottomRight.row(), bottom.isValid() ? bottom.row() : model()->rowCount() - 1);
            if (first > last)
                return;
            QTreeView::dataChanged(
                model()->index(first, topLeft.column()), model()->index(last, bottomRight.column()), roles);
            return;
        }
    }
    QTreeView::dataChanged(topLeft, bottomRight, roles);
}

void TServiceListView::keyboardSearch(const QString &search)
{
    if (!model() || model()->rowCount() == 0)
        return;
    const QModelIndex current = currentIndex();
    if (!current.isValid() || current.column() != TSystemRecord::Name)
        selectionModel()->setCurrentIndex(
            model()->index(current.isValid() ? current.row() : 0, TSystemRecord::Name),
            QItemSelectionModel::NoUpdate);
    QTreeView::keyboardSearch(search);
}

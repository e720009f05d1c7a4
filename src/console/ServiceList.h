#pragma once
#include "records/SystemList.h"
#include <functional>
#include <QAbstractTableModel>
#include <QBasicTimer>
#include <QStyledItemDelegate>
#include <QTreeView>

// What a row's dot shows beyond its state: an alarm not confirmed yet (amber, with its count), an
// acknowledgement and a maintenance (small marks), each with its tooltip line.
struct TRowMarks
{
    bool Unconfirmed = false;
    bool Acknowledged = false;
    bool Maintenance = false;
    QString Confirming; // "Doğrulanıyor: %d/%d", before the state's text
    QStringList Notes; // "Onaylandı: ...", "Bakımda: ...", after it
};

// The record list as the main window shows it. The model reads the list's cells on demand and forwards
// its change notifications. Changed cells reach the view at most once a frame, however many results
// arrive: the rows written meanwhile are gathered into one change. Rows added, removed or moved reach it
// at once, after the gathered change.
class TServiceListModel : public QAbstractTableModel, private TSystemListObserver
{
    Q_OBJECT
public:
    explicit TServiceListModel(TSystemList &List, QObject *parent = nullptr);
    ~TServiceListModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The Select header's hidden caption, "0" or "1", which decides its glyph.
    QString SelectHeaderCaption() const { return selectCaption; }
    void SetSelectHeaderCaption(const QString &Caption);

    // Tells the view of the gathered change now.
    void FlushChanges();
    // The marks of the row at a position; without one, no row has marks.
    void SetMarks(std::function<TRowMarks(int Position)> Source) { marks = std::move(Source); }
    // A row's marks changed, not its cells.
    void MarksChanged(int Position) { RowsChanged(Position, Position); }

protected:
    void timerEvent(QTimerEvent *Event) override;

private:
    void ListAboutToReset() override;
    void ListReset() override;
    void RowAboutToBeInserted(int Position) override;
    void RowInserted(int Position) override;
    void RowAboutToBeRemoved(int Position) override;
    void RowRemoved(int Position) override;
    void RowsChanged(int First, int Last) override;

    TSystemList &list;
    QString selectCaption = QStringLiteral("0");
    std::function<TRowMarks(int Position)> marks;
    QBasicTimer frame;
    int changedFirst = -1;
    int changedLast = -1;
};

// Draws the tick boxes and state dots centred, hides the focus rectangle, rows 20 pixels high.
class TServiceListDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class TServiceListView : public QTreeView
{
    Q_OBJECT
public:
    explicit TServiceListView(QWidget *parent = nullptr);
    // Typing searches the names, whichever cell has the focus.
    void keyboardSearch(const QString &search) override;
    // Column widths and order after the model is set.
    void SetUpColumns();

protected:
    void dataChanged(
        const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles = {}) override;
};

inline const QColor kEvenRowColor(246, 247, 252);
inline const QColor kOddRowColor(239, 239, 239);
inline const QColor kSelectedRowColor(191, 223, 255);
inline const QColor kSelectedTextColor(0, 0, 128);
inline const QColor kWindowColor(214, 223, 247);

#pragma once
#include <QString>
#include <QStringList>
#include <unordered_map>
#include <vector>

// A record's identity for the life of the process: results, commands and dialogs name a record by it and
// find its current row only when they need one. Never stored in the list file; 0 is no record.
using TRecordId = quint64;

// One monitored system: nine text cells in a fixed order (also the order of the list file). Numbers and
// flags are held as text too. A row read from an older file may hold fewer cells.
struct TSystemRecord
{
    static constexpr int Select = 0;
    static constexpr int Name = 1;
    static constexpr int IP = 2;
    static constexpr int Email = 3;
    static constexpr int DeviceCnt = 4;
    static constexpr int State = 5;
    static constexpr int Details = 6;
    static constexpr int ColDateTime = 7;
    static constexpr int ColZYRplus = 8;
    static constexpr int ColumnCount = 9;

    QStringList Cells;
    // Row header values kept from the list file and written back; the console never reads them.
    qint32 ImageIndex = 0;
    qint32 SelectedIndex = -1;
    qint32 StateIndex = -1;
    qint32 NodeData = 0;
    // Given by the list when the row joins it.
    TRecordId Id = 0;

    // A cell beyond the last one reads as the empty text.
    QString Cell(int Column) const
    {
        return Column >= 0 && Column < Cells.size() ? Cells.at(Column) : QString();
    }
    // Writing beyond the last cell first extends the row with empty cells.
    void SetCell(int Column, const QString &Text);
};

// The column names, also used for the layout sections: "Select", "Name", ... "ColZYRplus".
QString ColumnName(int Column);

enum TCheckState : int
{
    csNotChecked = 0,
    csNotWorking = 1,
    csWorking = 2,
    csWorkingReport = 3,
    csDevicesMissing = 4,
    csDevicesExcess = 5,
    csAlarm = 6,
    csChecking = 7,
};

// The text shown for a state, in the log and in the status mail; empty for csChecking and unknown codes.
QString StateDescription(int Code);
// States 1, 4, 5 and 6.
bool IsAlarmState(int Code);

// Notification addresses. An address text is addresses joined by ","; addresses match whole, with ASCII
// case folding only (a Turkish locale would fold I to a dotless i). The empty address matches nothing.
bool SameAddress(const QString &A, const QString &B);
bool AddressTextContains(const QString &AddressText, const QString &Address);
// The text without every element matching Address; the other elements stay exactly as they were.
QString RemoveFromAddressText(const QString &AddressText, const QString &Address);

// Receives the list's changes, so a Qt item model can forward them without re-laying out the whole view.
// Between BeginUpdate and the matching EndUpdate nothing is reported per change: a structural change (add,
// delete, sort, load) makes one reset around the whole update, otherwise one RowsChanged covers every row
// whose cells were written.
class TSystemListObserver
{
public:
    virtual ~TSystemListObserver() = default;
    virtual void ListAboutToReset() { }
    virtual void ListReset() { }
    virtual void RowAboutToBeInserted(int /*Position*/) { }
    virtual void RowInserted(int /*Position*/) { }
    virtual void RowAboutToBeRemoved(int /*Position*/) { }
    virtual void RowRemoved(int /*Position*/) { }
    virtual void RowsChanged(int /*First*/, int /*Last*/) { }
};

// The records of the main list, addressed by position (0-based, in the current order). Positions change
// only when rows are added, deleted, loaded or sorted, never when cells are written.
// A position or column out of range raises EZyrError.
class TSystemList
{
public:
    TSystemList() = default;
    TSystemList(const TSystemList &) = delete;
    TSystemList &operator=(const TSystemList &) = delete;

    void SetObserver(TSystemListObserver *Observer) { observer = Observer; }

    int Count() const { return int(rows.size()); }
    const TSystemRecord &Record(int Position) const;

    // Appends at the end with a new identity and returns the new position; the caller re-sorts when the
    // row should move.
    int Add(const TSystemRecord &Record);
    void Delete(int Position);
    void Clear();
    // Replaces every row (loading); the rows keep the given order until the next sort. A row without an
    // identity gets a new one; a row that has one keeps it (sorting, copies of a list).
    void ReplaceAll(std::vector<TSystemRecord> Records);

    TRecordId IdAt(int Position) const { return Record(Position).Id; }
    // The current row of a record, or -1 when the list no longer holds it.
    int PositionOf(TRecordId Id) const;

    QString Cell(int Position, int Column) const;
    void SetCell(int Position, int Column, const QString &Text);
    void SetCellNumber(int Position, int Column, qint64 Value);
    // Stores "-1" or "0".
    void SetCellFlag(int Position, int Column, bool Value);
    // The text as a number in the user's locale (the C locale's form is accepted too); text that is no
    // number, the empty text included, raises EZyrError.
    double CellAsNumber(int Position, int Column) const;
    // A number (non-zero is true) or True/False in any letter case. The empty text reads as false (rows of
    // older files have no ColZYRplus); any other text raises EZyrError.
    bool CellAsFlag(int Position, int Column) const;

    // Nested pairs allowed; changes are reported when the outermost EndUpdate runs.
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return updateDepth > 0; }

    // Sort state: Name descending at start. Rows compare by their cell texts in upper case, byte by byte
    // (UTF-8), so numbers sort as texts ("10" before "9"); equal rows keep their order.
    int SortColumn() const { return sortColumn; }
    bool SortAscending() const { return sortAscending; }
    void SetSortOrder(int Column, bool Ascending);
    void Sort();
    void SortBy(int Column, bool Ascending);
    // A header click: the same column again reverses the order, a new column sorts ascending. The Select
    // column does not sort (it toggles the ticks, which is the console's business); returns false then.
    bool HeaderClickSort(int Column);

    // Records whose Select reads as the number 1; a Select that is no number does not count.
    int SelectedCount() const;
    bool AddressInUse(const QString &Address) const;
    // Removes the address from every record's Email, as one update.
    void RemoveAddress(const QString &Address);

private:
    void CheckPosition(int Position) const;
    void CheckColumn(int Column) const;
    void StructureChanging();
    void CellsChanged(int Position);

    std::vector<TSystemRecord> rows;
    TSystemListObserver *observer = nullptr;
    int sortColumn = TSystemRecord::Name;
    bool sortAscending = false;
    int updateDepth = 0;
    bool resetPending = false;
    int changedFirst = -1;
    int changedLast = -1;
    // Rows by identity, rebuilt on the first look-up after rows moved.
    mutable std::unordered_map<TRecordId, int> positions;
    mutable bool positionsValid = false;
};

// Holds an update open for a scope, so an error thrown inside still ends it.
class TListUpdate
{
public:
    explicit TListUpdate(TSystemList &List)
        : list(List)
    {
        list.BeginUpdate();
    }
    ~TListUpdate() { list.EndUpdate(); }
    TListUpdate(const TListUpdate &) = delete;
    TListUpdate &operator=(const TListUpdate &) = delete;

private:
    TSystemList &list;
};

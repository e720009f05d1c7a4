#include "records/SystemList.h"

#include "platform/Errors.h"
#include "platform/Format.h"
#include <algorithm>
#include <atomic>
#include <cmath>
#include <QLocale>

namespace {

TRecordId NewRecordId()
{
    static std::atomic<TRecordId> last{0};
    return ++last;
}

} // namespace

void TSystemRecord::SetCell(int Column, const QString &Text)
{
    if (Column < 0)
        throw EZyrError(Format("List index out of bounds (%d)", Column));
    while (Cells.size() <= Column)
        Cells.append(QString());
    Cells[Column] = Text;
}

QString ColumnName(int Column)
{
    static const char *const names[TSystemRecord::ColumnCount]
        = {"Select", "Name", "IP", "Email", "DeviceCnt", "State", "Details", "ColDateTime", "ColZYRplus"};
    if (Column < 0 || Column >= TSystemRecord::ColumnCount)
        return QString();
    return QString::fromLatin1(names[Column]);
}

QString StateDescription(int Code)
{
    switch (Code) {
    case csNotChecked:
        return QStringLiteral("Denetlenmemiş");
    case csNotWorking:
        return QStringLiteral("Çalışmıyor");
    case csWorking:
    case csWorkingReport:
        return QStringLiteral("Çalışıyor");
    case csDevicesMissing:
        return QStringLiteral("Aygıt eksik tespit edildi");
    case csDevicesExcess:
        return QStringLiteral("Aygıt fazla tespit edildi");
    case csAlarm:
        return QStringLiteral("Alarm tespit edildi");
    default:
        return QString();
    }
}

bool IsAlarmState(int Code)
{
    return Code == csNotWorking || Code == csDevicesMissing || Code == csDevicesExcess || Code == csAlarm;
}

static char16_t AsciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

bool SameAddress(const QString &A, const QString &B)
{
    const QString a = A.trimmed(), b = B.trimmed();
    if (a.isEmpty() || a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (AsciiLower(a.at(i).unicode()) != AsciiLower(b.at(i).unicode()))
            return false;
    return true;
}

// Split at every ",": the field tokenizer's quote rule would hide the addresses after one holding an
// apostrophe.
bool AddressTextContains(const QString &AddressText, const QString &Address)
{
    const QStringList parts = AddressText.split(QLatin1Char(','));
    return std::any_of(parts.begin(), parts.end(), [&](const QString &p) { return SameAddress(p, Address); });
}

QString RemoveFromAddressText(const QString &AddressText, const QString &Address)
{
    QStringList parts = AddressText.split(QLatin1Char(','));
    parts.removeIf([&](const QString &p) { return SameAddress(p, Address); });
    return parts.join(QLatin1Char(','));
}

const TSystemRecord &TSystemList::Record(int Position) const
{
    CheckPosition(Position);
    return rows[size_t(Position)];
}

void TSystemList::CheckPosition(int Position) const
{
    if (Position < 0 || Position >= Count())
        throw EZyrError(Format("List index out of bounds (%d)", Position));
}

void TSystemList::CheckColumn(int Column) const
{
    if (Column < 0)
        throw EZyrError(Format("List index out of bounds (%d)", Column));
}

// Inside an update a structural change turns the update's report into one reset; the observer must hear
// of it before the rows change.
void TSystemList::StructureChanging()
{
    if (!resetPending && observer)
        observer->ListAboutToReset();
    resetPending = true;
}

void TSystemList::CellsChanged(int Position)
{
    if (updateDepth == 0) {
        if (observer)
            observer->RowsChanged(Position, Position);
        return;
    }
    if (resetPending)
        return;
    changedFirst = changedFirst < 0 ? Position : std::min(changedFirst, Position);
    changedLast = std::max(changedLast, Position);
}

int TSystemList::Add(const TSystemRecord &Record)
{
    const int position = Count();
    TSystemRecord row = Record;
    row.Id = NewRecordId();
    if (positionsValid)
        positions[row.Id] = position;
    if (updateDepth > 0) {
        StructureChanging();
        rows.push_back(std::move(row));
        return position;
    }
    if (observer)
        observer->RowAboutToBeInserted(position);
    rows.push_back(std::move(row));
    if (observer)
        observer->RowInserted(position);
    return position;
}

void TSystemList::Delete(int Position)
{
    CheckPosition(Position);
    positionsValid = false;
    if (updateDepth > 0) {
        StructureChanging();
        rows.erase(rows.begin() + Position);
        return;
    }
    if (observer)
        observer->RowAboutToBeRemoved(Position);
    rows.erase(rows.begin() + Position);
    if (observer)
        observer->RowRemoved(Position);
}

void TSystemList::Clear()
{
    ReplaceAll({});
}

void TSystemList::ReplaceAll(std::vector<TSystemRecord> Records)
{
    for (TSystemRecord &row : Records)
        if (row.Id == 0)
            row.Id = NewRecordId();
    BeginUpdate();
    StructureChanging();
    rows = std::move(Records);
    positionsValid = false;
    EndUpdate();
}

int TSystemList::PositionOf(TRecordId Id) const
{
    if (!positionsValid) {
        positions.clear();
        positions.reserve(rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            positions[rows[i].Id] = int(i);
        positionsValid = true;
    }
    const auto found = positions.find(Id);
    return found == positions.end() ? -1 : found->second;
}

QString TSystemList::Cell(int Position, int Column) const
{
    CheckColumn(Column);
    return Record(Position).Cell(Column);
}

void TSystemList::SetCell(int Position, int Column, const QString &Text)
{
    CheckPosition(Position);
    CheckColumn(Column);
    rows[size_t(Position)].SetCell(Column, Text);
    CellsChanged(Position);
}

void TSystemList::SetCellNumber(int Position, int Column, qint64 Value)
{
    SetCell(Position, Column, QString::number(Value));
}

void TSystemList::SetCellFlag(int Position, int Column, bool Value)
{
    SetCell(Position, Column, Value ? QStringLiteral("-1") : QStringLiteral("0"));
}

static bool TextToNumber(const QString &Text, double &Value)
{
    // Plain digits, the usual content of a number cell, read alike in every locale; asking the system
    // locale for them made a cycle over thousands of rows slow.
    if (!Text.isEmpty() && Text.size() <= 9) {
        qint64 digits = 0;
        bool plain = true;
        for (QChar c : Text) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                plain = false;
                break;
            }
            digits = digits * 10 + (c.unicode() - '0');
        }
        if (plain) {
            Value = double(digits);
            return true;
        }
    }
    const QString t = Text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    Value = QLocale::system().toDouble(t, &ok);
    if (!ok)
        Value = QLocale::c().toDouble(t, &ok);
    return ok && std::isfinite(Value);
}

double TSystemList::CellAsNumber(int Position, int Column) const
{
    const QString text = Cell(Position, Column);
    double value = 0;
    if (!TextToNumber(text, value))
        throw EZyrError(Format("'%s' is not a valid floating point value", text));
    return value;
}

bool TSystemList::CellAsFlag(int Position, int Column) const
{
    const QString text = Cell(Position, Column);
    if (text.isEmpty())
        return false;
    double value = 0;
    if (TextToNumber(text, value))
        return value != 0;
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    throw EZyrError(Format("'%s' is not a valid boolean value", text));
}

void TSystemList::BeginUpdate()
{
    ++updateDepth;
}

void TSystemList::EndUpdate()
{
    if (updateDepth == 0)
        return;
    if (--updateDepth > 0)
        return;
    const bool reset = resetPending;
    const int first = changedFirst, last = changedLast;
    resetPending = false;
    changedFirst = changedLast = -1;
    if (!observer)
        return;
    if (reset)
        observer->ListReset();
    else if (first >= 0 && first < Count())
        observer->RowsChanged(first, std::min(last, Count() - 1));
}

void TSystemList::SetSortOrder(int Column, bool Ascending)
{
    if (Column < 0 || Column >= TSystemRecord::ColumnCount)
        throw EZyrError(Format("List index out of bounds (%d)", Column));
    sortColumn = Column;
    sortAscending = Ascending;
}

void TSystemList::Sort()
{
    std::vector<std::pair<QByteArray, size_t>> keys;
    keys.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        keys.emplace_back(rows[i].Cell(sortColumn).toUpper().toUtf8(), i);
    const bool ascending = sortAscending;
    // Unsigned bytes, so letters beyond ASCII sort after Z as they did in the single-byte code page.
    auto less = [](const QByteArray &a, const QByteArray &b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return uchar(x) < uchar(y); });
    };
    std::stable_sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        return ascending ? less(a.first, b.first) : less(b.first, a.first);
    });
    std::vector<TSystemRecord> sorted;
    sorted.reserve(rows.size());
    for (const auto &k : keys)
        sorted.push_back(std::move(rows[k.second]));
    ReplaceAll(std::move(sorted));
}

void TSystemList::SortBy(int Column, bool Ascending)
{
    SetSortOrder(Column, Ascending);
    Sort();
}

bool TSystemList::HeaderClickSort(int Column)
{
    if (Column == TSystemRecord::Select)
        return false;
    SortBy(Column, Column == sortColumn ? !sortAscending : true);
    return true;
}

int TSystemList::SelectedCount() const
{
    int count = 0;
    for (const TSystemRecord &r : rows) {
        double value = 0;
        if (TextToNumber(r.Cell(TSystemRecord::Select), value) && value == 1)
            ++count;
    }
    return count;
}

bool TSystemList::AddressInUse(const QString &Address) const
{
    return std::any_of(rows.begin(), rows.end(),
        [&](const TSystemRecord &r) { return AddressTextContains(r.Cell(TSystemRecord::Email), Address); });
}

void TSystemList::RemoveAddress(const QString &Address)
{
    TListUpdate update(*this);
    for (int i = 0; i < Count(); ++i) {
        const QString email = rows[size_t(i)].Cell(TSystemRecord::Email);
        if (AddressTextContains(email, Address))
            SetCell(i, TSystemRecord::Email, RemoveFromAddressText(email, Address));
    }
}

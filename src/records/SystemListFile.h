#pragma once
#include "records/SystemList.h"
#include <array>
#include <QByteArray>
#include <QString>
#include <vector>

// The list file: a length-prefixed dump of the rows, read in both the current layout (four-byte cell
// lengths) and the older one (one-byte lengths). Cells are decoded with DecodeExternalText and written as
// UTF-8. Child blocks are read past and dropped: this list is flat.

// Replaces the rows by the file's. Raises EZyrError "Cannot open file %s" (the list is then unchanged) or
// "Stream read error" for a damaged file; the complete rows read before the fault stay in the list.
void LoadSystemList(TSystemList &List, const QString &FileName);
void LoadSystemListFromBytes(TSystemList &List, const QByteArray &Bytes);

// Writes every row in its current order. The file is replaced whole or, on any failure (a full disk
// included), left byte-identical (SaveFile). Raises EZyrError "Cannot create file %s".
void SaveSystemList(const TSystemList &List, const QString &FileName);
// As the program saves when it closes: every State is written as "0"; the rows in memory keep theirs.
void SaveSystemListOnClose(const TSystemList &List, const QString &FileName);
QByteArray SystemListBytes(const TSystemList &List, bool ResetStates = false);

// The list view's layout at program end, written into the INI file under the "\ServiceList" sections.
struct TListBandLayout
{
    int ID = 0;
    bool Visible = true;
    int Index = 0;
    int Width = 0;
};

struct TListColumnLayout
{
    int BandIndex = 0;
    int RowIndex = 0;
    int ColIndex = 0;
    bool Visible = true;
    int Index = 0;
    int Width = 0;
    int Sorted = 0; // 0 not sorted, 1 descending, 2 ascending
    int SortedOrder = 0;
    int StoredRowIndex = 0;
};

struct TListLayout
{
    bool ShowGrid = false;
    bool ShowPreviewGrid = false;
    int BandRowCount = 1;
    int DefaultRowHeight = 20;
    int HeaderPanelRowCount = 1;
    std::vector<TListBandLayout> Bands;
    // Indexed by column (TSystemRecord::Select ... ColZYRplus); the section names come from ColumnName.
    std::vector<TListColumnLayout> Columns;
};

// The Sorted value of a column for the list's current sort state.
int SortedLayoutValue(const TSystemList &List, int Column);

// Rewrites the INI file: its "\ServiceList" sections are replaced by the layout, in the place of the first
// of them (else at the end); every other byte stays as it was, a byte-order mark and CR LF line ends
// included. Raises EZyrError "Cannot open file %s" when the file is there but cannot be read, and
// "Cannot create file %s" when it cannot be written; the file is then left byte-identical. A new file is
// made readable by its owner alone, since it may become the settings file.
void SaveListLayout(const TListLayout &Layout, const QString &FileName);

// The layout sections as a later start reads them back: what can be used of them, each value on its own.
struct TSavedListLayout
{
    // Per column; 0 where the file gives no usable width.
    std::array<int, TSystemRecord::ColumnCount> Widths{};
    // The column the rows were sorted by and its direction; -1 when none is given.
    int SortColumn = -1;
    bool SortAscending = false;
};

// Reads Width and Sorted of the "\ServiceList\Columns\<column>" sections through the INI line reader:
// the sections named exactly as the layout writer names the ones it owns, keys found case-insensitively,
// the first of each counting. Never raises and never writes: a file that cannot be read or a damaged
// section or value gives nothing for it. A width counts
// from 1 to 10000; Sorted counts as 1 (descending) or 2 (ascending) for the columns a header click sorts
// (not the Select column, not the hidden ones), the first such column in column order.
TSavedListLayout ReadListLayout(const QString &FileName);
TSavedListLayout ReadListLayoutBytes(const QByteArray &Bytes);

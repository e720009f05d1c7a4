#pragma once
#include <QDialog>
#include <QStyledItemDelegate>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// Paints the rows of the details list: row colours, the state dot, and the channel states as numbered
// 15-pixel boxes (green for 0, red for 1, plain for anything else).
class TDetailsDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(
        QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override;

    static constexpr int BoxWidth = 15;
    static void PaintChannels(QPainter *Painter, const QRect &Cell, const QString &States,
        const QColor &Background, const QColor &Text);
};

// The last report of one system: version (or server name and address), disk space and one row per device
// with its channels. Created once and filled anew at each opening.
class TFormDetails : public QDialog
{
public:
    explicit TFormDetails(QWidget *Parent = nullptr);

    static constexpr int Col_Desc = 0;
    static constexpr int Col_State = 1;
    static constexpr int Col_Channels = 2;

    // The last report of a system in state StateText, checked at Time: the list filled from an ordinary
    // status report or from an extended system's device list, then the window shown modally.
    int ShowFor(const QString &StateText, const QString &Time, const QString &ReportText, bool Plus);

    // The width of Col_Channels: 150 at first, 15 pixels per channel of the largest ordinary device shown.
    int ChannelsWidth() const { return channelsWidth; }

    // Where a window whose frame has the given size goes: its top-right corner at the pointer, then moved
    // as little as needed to lie inside the available area (the frame is never larger than the area).
    static QPoint PlaceAtPointer(QPoint Pointer, QSize Frame, const QRect &Available);

protected:
    void showEvent(QShowEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    int ShowReport(const QString &ReportText);
    int ShowPlusReport(const QString &ReportText);
    void FillReport(const QString &ReportText);
    void FillPlusReport(const QString &ReportText);
    void AddRow(const QString &Desc, const QString &State, const QString &Channels);
    void FitColumns();
    void FitWindow();
    QMargins FrameMargins() const;
    // The available area of the screen under the pointer, and the room it leaves a window inside its frame.
    static QRect ScreenAtPointer(QPoint Pointer);
    QSize ScreenRoom() const;

    int channelsWidth = 150;
    QTreeWidget *TLAlarm;
    QWidget *PnlBottom;
    QLabel *lblAlarm;
    QLabel *lblTime;
};

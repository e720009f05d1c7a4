#pragma once
#include <functional>
#include <QColor>
#include <QDialog>
#include <QPointer>
#include <vector>

class QLabel;
class QTimer;
class QTreeWidget;
class TConsoleSession;

// A row of cells, one per hour or day, coloured by the share of alarm time (or as maintenance), with a
// label under some of them and a tooltip on each.
class TAlarmStrip : public QWidget
{
public:
    struct TCell
    {
        QColor Colour;
        QString Label, Tip;
    };
    explicit TAlarmStrip(QWidget *Parent = nullptr);
    void SetCells(std::vector<TCell> Value);
    int Count() const { return int(cells.size()); }
    // Where a cell is drawn, in the strip's coordinates.
    QRect CellRect(int Index) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *Event) override;
    bool event(QEvent *Event) override;

private:
    int BarHeight() const;
    std::vector<TCell> cells;
};

// The history of one system: the last 24 hours and 30 days as strips, its availability over 24 hours, 7,
// 30 and 365 days, and its changes of state with its acknowledgements and maintenance, newest first. Made
// once, aimed at a system at each opening; while shown it reads the session's history database again whenever
// the writer has committed.
class TFormHistory : public QDialog
{
public:
    explicit TFormHistory(TConsoleSession &Session, QWidget *Parent = nullptr);
    void CentreOn(QWidget *Window) { owner = Window; }

    // Shows (or raises) the window for the system known by Address, read afresh.
    void ShowFor(const QString &Name, const QString &Address);
    QString Address() const { return address; }

    // Seconds since the epoch the window counts as now; the real clock unless a test sets another.
    std::function<qint64()> Clock;

    static constexpr int Col_Date = 0;
    static constexpr int Col_Time = 1;
    static constexpr int Col_State = 2;
    static constexpr int Col_Lasted = 3;

    // "3 sa 20 dk": how long a state lasted, to the minute (seconds below one).
    static QString DurationText(qint64 Seconds);
    // "%99,5" of the known time; a dash when none is known.
    static QString PercentText(double Percent);

protected:
    void showEvent(QShowEvent *Event) override;

private:
    void Refresh();
    // After a commit: one re-read in the next turn of the event loop, however many commits came.
    void RefreshSoon();
    // The window without figures, with Message saying why.
    void ShowEmpty(const QString &Message);

    TConsoleSession &session;
    QPointer<QWidget> owner;
    QString name, address;
    bool refreshDue = false;
    QLabel *lblMessage;
    TAlarmStrip *stpHours;
    TAlarmStrip *stpDays;
    QLabel *lblAvailability[4];
    QTreeWidget *lstChanges;
    QTimer *minuteTimer;
};

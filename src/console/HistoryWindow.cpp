#include "console/HistoryWindow.h"
#include "console/KeyPreview.h"
#include "engine/CheckEngine.h"
#include "history/HistoryQuery.h"
#include "platform/Format.h"
#include "records/SystemList.h"
#include "session/ConsoleSession.h"
#include <algorithm>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// How long a read of the window waits for a lock held by another connection.
constexpr int kReadWaitMs = 200;

const QColor kBackground(246, 247, 252);
constexpr int kCellGap = 1;

QString HourLabel(const QDateTime &Start)
{
    // Zones half an hour off the hours the history keeps show the minutes too.
    return Start.toString(Start.time().minute() ? QStringLiteral("HH:mm") : QStringLiteral("HH"));
}

QString ShareTip(const QString &When, const TStateTotals &Cell)
{
    const QString maintenance = QStringLiteral("bakım ") + TFormHistory::DurationText(Cell.Maintenance());
    if (Cell.Known() == 0)
        return When + QStringLiteral(": ")
            + (Cell.Maintenance() > 0 ? maintenance : QStringLiteral("bilinmiyor"));
    QString tip = When + QStringLiteral(": ") + TFormHistory::PercentText(Cell.AvailabilityPercent())
        + QStringLiteral(", alarm ") + TFormHistory::DurationText(Cell.Alarm());
    if (Cell.Maintenance() > 0)
        tip += QStringLiteral(", ") + maintenance;
    return tip;
}

QString ChangeText(int State)
{
    // No check result is ever "checking": the history keeps a system's results in maintenance there.
    return State == kHistoryMaintenance ? QStringLiteral("Bakımda") : StateDescription(State);
}

QString MarkText(const THistoryMark &Mark)
{
    const auto withNote = [&Mark](QString Text) {
        return Mark.Note.isEmpty() ? Text : Text + QStringLiteral(": ") + Mark.Note;
    };
    switch (Mark.Kind) {
    case THistoryMark::Acknowledged:
        return withNote(QStringLiteral("Alarm onaylandı"));
    case THistoryMark::AckRemoved:
        return QStringLiteral("Alarm onayı kaldırıldı");
    case THistoryMark::AckFell:
        return QStringLiteral("Alarm onayı kalktı, sistem düzeldi");
    case THistoryMark::MaintenanceStarted:
        return withNote(Format("Bakım başladı (bitiş %s)", FormatMarkTime(Mark.End)));
    case THistoryMark::MaintenanceEnded:
        return QStringLiteral("Bakım bitti");
    default:
        return QString();
    }
}

TStateTotals Sum(const std::vector<TStateTotals> &Cells, size_t From)
{
    TStateTotals sum;
    for (size_t i = From; i < Cells.size(); ++i) {
        for (int k = 0; k < kHistoryStates; ++k) {
            sum.Seconds[k] += Cells[i].Seconds[k];
            sum.Results[k] += Cells[i].Results[k];
        }
        sum.Span += Cells[i].Span;
    }
    return sum;
}

QLabel *Caption(const QString &Text, QWidget *Parent)
{
    auto *label = new QLabel(Text, Parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

TAlarmStrip::TAlarmStrip(QWidget *Parent)
    : QWidget(Parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TAlarmStrip::SetCells(std::vector<TCell> Value)
{
    cells = std::move(Value);
    update();
}

int TAlarmStrip::BarHeight() const
{
    return 20;
}

QSize TAlarmStrip::sizeHint() const
{
    return {480, BarHeight() + 2 + fontMetrics().height()};
}

QSize TAlarmStrip::minimumSizeHint() const
{
    return {240, sizeHint().height()};
}

QRect TAlarmStrip::CellRect(int Index) const
{
    const int n = std::max(1, Count());
    const int left = Index * width() / n, right = (Index + 1) * width() / n;
    return {left, 0, std::max(1, right - left - kCellGap), BarHeight()};
}

void TAlarmStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QFontMetrics metrics = fontMetrics();
    int widest = 0;
    for (const TCell &cell : cells)
        widest = std::max(widest, metrics.horizontalAdvance(cell.Label));
    // Every label that fits beside its neighbours: each one, or each second, third...
    const int cellWidth = std::max(1, width() / std::max(1, Count()));
    const int step = std::max(1, (widest + 6 + cellWidth - 1) / cellWidth);
    painter.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < Count(); ++i) {
        const QRect box = CellRect(i);
        painter.fillRect(box, cells[size_t(i)].Colour);
        if ((Count() - 1 - i) % step == 0) // the newest cell always has its label
            painter.drawText(QRect(box.center().x() - widest, box.bottom() + 2, 2 * widest, metrics.height()),
                int(Qt::AlignHCenter | Qt::AlignTop), cells[size_t(i)].Label);
    }
}

bool TAlarmStrip::event(QEvent *Event)
{
    if (Event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(Event);
        for (int i = 0; i < Count(); ++i)
            if (CellRect(i).adjusted(0, 0, kCellGap, 0).contains(help->pos())) {
                QToolTip::showText(help->globalPos(), cells[size_t(i)].Tip, this, CellRect(i));
                return true;
            }
        QToolTip::hideText();
        Event->ignore();
        return true;
    }
    return QWidget::event(Event);
}

TFormHistory::TFormHistory(TConsoleSession &Session, QWidget *Parent)
    : QDialog(Parent)
    , Clock([] { return QDateTime::currentSecsSinceEpoch(); })
    , session(Session)
{
    setObjectName(QStringLiteral("FormHistory"));
    setWindowTitle(QStringLiteral("Geçmiş"));
    setSizeGripEnabled(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    setPalette(pal);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    lblMessage->hide();
    stpHours = new TAlarmStrip(this);
    stpHours->setObjectName(QStringLiteral("stpHours"));
    stpDays = new TAlarmStrip(this);
    stpDays->setObjectName(QStringLiteral("stpDays"));

    auto *availability = new QGridLayout;
    availability->setHorizontalSpacing(24);
    const char *names[]
        = {"lblAvailability24h", "lblAvailability7d", "lblAvailability30d", "lblAvailability365d"};
    const QString spans[] = {QStringLiteral("24 saat"), QStringLiteral("7 gün"), QStringLiteral("30 gün"),
        QStringLiteral("365 gün")};
    for (int i = 0; i < 4; ++i) {
        availability->addWidget(new QLabel(spans[i], this), 0, i);
        lblAvailability[i] = new QLabel(this);
        lblAvailability[i]->setObjectName(QLatin1String(names[i]));
        QFont font = lblAvailability[i]->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.3);
        lblAvailability[i]->setFont(font);
        availability->addWidget(lblAvailability[i], 1, i);
    }
    availability->setColumnStretch(4, 1);

    lstChanges = new QTreeWidget(this);
    lstChanges->setObjectName(QStringLiteral("lstChanges"));
    lstChanges->setColumnCount(4);
    lstChanges->setHeaderLabels(
        {QStringLiteral("Tarih"), QStringLiteral("Saat"), QStringLiteral("Durum"), QStringLiteral("Süre")});
    lstChanges->setRootIsDecorated(false);
    lstChanges->setItemsExpandable(false);
    lstChanges->setUniformRowHeights(true);
    lstChanges->setAlternatingRowColors(true);
    lstChanges->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstChanges->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstChanges->header()->setSectionsMovable(false);
    lstChanges->header()->resizeSection(Col_Date, 90);
    lstChanges->header()->resizeSection(Col_Time, 70);
    lstChanges->header()->resizeSection(Col_State, 190);

    auto *btnClose = new QPushButton(QStringLiteral("Kapat"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(btnClose);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage);
    layout->addWidget(Caption(QStringLiteral("Son 24 saat"), this));
    layout->addWidget(stpHours);
    layout->addWidget(Caption(QStringLiteral("Son 30 gün"), this));
    layout->addWidget(stpDays);
    layout->addSpacing(4);
    layout->addWidget(Caption(QStringLiteral("Kullanılabilirlik"), this));
    layout->addLayout(availability);
    layout->addSpacing(4);
    layout->addWidget(Caption(QStringLiteral("Durum değişiklikleri"), this));
    layout->addWidget(lstChanges, 1);
    layout->addLayout(bottom);
    resize(560, 520);

    CloseOnEscape(this, [this] { close(); });
    connect(&session, &TConsoleSession::HistoryWritten, this, &TFormHistory::RefreshSoon);
    // The strips move on with the clock also when no result comes.
    minuteTimer = new QTimer(this);
    minuteTimer->setInterval(60000);
    connect(minuteTimer, &QTimer::timeout, this, &TFormHistory::RefreshSoon);
}

QString TFormHistory::DurationText(qint64 Seconds)
{
    if (Seconds < 60)
        return QStringLiteral("%1 sn").arg(std::max<qint64>(0, Seconds));
    const qint64 minutes = Seconds / 60, hours = minutes / 60, days = hours / 24;
    if (days > 0)
        return hours % 24 ? QStringLiteral("%1 gün %2 sa").arg(days).arg(hours % 24)
                          : QStringLiteral("%1 gün").arg(days);
    if (hours > 0)
        return minutes % 60 ? QStringLiteral("%1 sa %2 dk").arg(hours).arg(minutes % 60)
                            : QStringLiteral("%1 sa").arg(hours);
    return QStringLiteral("%1 dk").arg(minutes);
}

QString TFormHistory::PercentText(double Percent)
{
    if (Percent < 0)
        return QStringLiteral("—");
    return QLatin1Char('%') + QString::number(Percent, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

void TFormHistory::ShowFor(const QString &Name, const QString &Address)
{
    name = Name;
    address = Address;
    setWindowTitle(Format("Geçmiş - %s (%s)", name, address));
    Refresh();
    show();
    raise();
    activateWindow();
}

void TFormHistory::showEvent(QShowEvent *Event)
{
    if (!Event->spontaneous())
        if (QWidget *centre = owner.data()) {
            const QRect frame = centre->window()->frameGeometry();
            move(frame.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
        }
    minuteTimer->start();
    QDialog::showEvent(Event);
}

void TFormHistory::RefreshSoon()
{
    if (!isVisible()) {
        minuteTimer->stop();
        return;
    }
    if (refreshDue)
        return;
    refreshDue = true;
    QTimer::singleShot(0, this, [this] {
        refreshDue = false;
        if (isVisible())
            Refresh();
    });
}

void TFormHistory::ShowEmpty(const QString &Message)
{
    lblMessage->setText(Message);
    lblMessage->setVisible(!Message.isEmpty());
    std::vector<TAlarmStrip::TCell> none(24, {QColor(AlarmColour(-1)), QString(), QString()});
    stpHours->SetCells(none);
    none.resize(30, none.front());
    stpDays->SetCells(none);
    for (QLabel *label : lblAvailability)
        label->setText(PercentText(-1));
    lstChanges->clear();
}

void TFormHistory::Refresh()
{
    const QString path = session.HistoryFileName();
    const qint64 now = Clock();
    std::vector<TStateTotals> hours, days;
    TStateTotals year;
    std::vector<THistoryChange> changes;
    std::vector<THistoryMark> marks;
    if (!QFileInfo::exists(path)) {
        ShowEmpty(QStringLiteral("Geçmiş veritabanı henüz yok."));
        return;
    }
    try {
        // Read-only: a reader of a WAL database never blocks the writer. A database another program holds
        // locked (a recovery, an exclusive lock) fails the read quickly instead of freezing the window; the
        // next commit's re-read tries again.
        THistoryReader reader(path, kReadWaitMs);
        hours = reader.LastHours(address, now);
        days = reader.LastDays(address, now);
        const QDate today = QDateTime::fromSecsSinceEpoch(now).date();
        year = reader.Totals(address, today.addDays(-364).startOfDay().toSecsSinceEpoch(),
            today.addDays(1).startOfDay().toSecsSinceEpoch(), now);
        changes = reader.Changes(address, now);
        marks = reader.Marks(address);
    } catch (const std::exception &) {
        ShowEmpty(QStringLiteral("Geçmiş veritabanı okunamadı."));
        return;
    }
    lblMessage->setText(QStringLiteral("Bu sistemin geçmişi yok."));
    lblMessage->setVisible(changes.empty() && marks.empty());

    // The cells' times as the reader makes them: whole hours up to now's, local days up to today.
    const qint64 hour = now - now % kHourSeconds;
    std::vector<TAlarmStrip::TCell> cells;
    for (size_t i = 0; i < hours.size(); ++i) {
        const QDateTime from
            = QDateTime::fromSecsSinceEpoch(hour - qint64(hours.size() - 1 - i) * kHourSeconds);
        const QDateTime to = from.addSecs(kHourSeconds);
        cells.push_back({QColor(PeriodColour(hours[i])), HourLabel(from),
            ShareTip(from.toString(QStringLiteral("dd.MM.yyyy HH:mm")) + QStringLiteral("–")
                    + to.toString(QStringLiteral("HH:mm")),
                hours[i])});
    }
    stpHours->SetCells(std::move(cells));
    cells.clear();
    const QDate firstDay = QDateTime::fromSecsSinceEpoch(now).date().addDays(1 - qint64(days.size()));
    for (size_t i = 0; i < days.size(); ++i) {
        const QDate day = firstDay.addDays(qint64(i));
        cells.push_back({QColor(PeriodColour(days[i])), day.toString(QStringLiteral("dd")),
            ShareTip(day.toString(QStringLiteral("dd.MM.yyyy")), days[i])});
    }
    stpDays->SetCells(std::move(cells));

    // The figures are the strips' sums, so they agree with what the strips show.
    lblAvailability[0]->setText(PercentText(Sum(hours, 0).AvailabilityPercent()));
    lblAvailability[1]->setText(
        PercentText(Sum(days, days.size() - std::min<size_t>(7, days.size())).AvailabilityPercent()));
    lblAvailability[2]->setText(PercentText(Sum(days, 0).AvailabilityPercent()));
    lblAvailability[3]->setText(PercentText(year.AvailabilityPercent()));

    lstChanges->setUpdatesEnabled(false);
    lstChanges->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(qsizetype(changes.size() + marks.size()));
    const auto add = [&items](qint64 Time, const QString &State, const QString &Lasted) {
        const QDateTime at = QDateTime::fromSecsSinceEpoch(Time);
        items.append(new QTreeWidgetItem(QStringList{at.toString(QStringLiteral("dd.MM.yyyy")),
            at.toString(QStringLiteral("HH:mm:ss")), State, Lasted}));
    };
    // Both newest first: the changes as read, the marks from their end. A mark in the same second as a
    // change came of it (an acknowledgement falls with the result that ended the alarm): it goes above.
    auto mark = marks.rbegin();
    for (size_t i = 0; i < changes.size(); ++i) {
        const THistoryChange &change = changes[i];
        for (; mark != marks.rend() && mark->Time >= change.Time; ++mark)
            add(mark->Time, MarkText(*mark), QString());
        QString lasted = DurationText(change.Lasted);
        if (i == 0 && change.Time + change.Lasted >= now)
            lasted += QStringLiteral(" (sürüyor)");
        add(change.Time, ChangeText(change.After), lasted);
    }
    for (; mark != marks.rend(); ++mark)
        add(mark->Time, MarkText(*mark), QString());
    lstChanges->addTopLevelItems(items);
    lstChanges->setUpdatesEnabled(true);
}

#include "console/UnitDetails.h"
#include "console/Icons.h"
#include "console/KeyPreview.h"
#include "platform/Format.h"
#include "platform/ItemParser.h"
#include "platform/Logger.h"
#include "report/PlusDetails.h"
#include "report/UtilsCheckZYR.h"
#include <algorithm>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QColor kHeaderColour(224, 227, 245);
const QColor kEvenRow(246, 247, 252);
const QColor kOddRow(239, 239, 239);
const QColor kSelectedRow(191, 223, 255);
const QColor kSelectedText(0, 0, 128);
const QColor kGreenBox(64, 255, 64);
const QColor kRedBox(255, 0, 0);

constexpr int kDescWidth = 250;
constexpr int kDescMinWidth = 150;
constexpr int kStateWidth = 50;
// A status report holds at most 503 bytes, so no device shows more channels than that; the limit keeps a
// hostile capacity from asking for an absurd column.
constexpr int kMaxChannels = 512;

} // namespace

void TDetailsDelegate::PaintChannels(
    QPainter *Painter, const QRect &Cell, const QString &States, const QColor &Background, const QColor &Text)
{
    Painter->fillRect(Cell, Background);
    const QString trimmed = States.trimmed();
    if (trimmed.isEmpty())
        return;
    Painter->save();
    Painter->setClipRect(Cell);
    const QFontMetrics metrics(Painter->font());
    TItemParser parser(trimmed, QLatin1Char(','));
    for (int n = 1; parser.HasMore(); ++n) {
        const int value = parser.NextInt(0);
        const QRect box(Cell.left() + BoxWidth * (n - 1), Cell.top(), BoxWidth, Cell.height());
        if (box.left() > Cell.right())
            break; // the rest lies beyond the cell
        QColor boxColour = Background;
        QColor textColour = Text;
        if (value == 0) {
            boxColour = kGreenBox;
            textColour = Qt::black;
        } else if (value == 1) {
            boxColour = kRedBox;
            textColour = Qt::white;
        }
        Painter->fillRect(box, boxColour);
        const QString number = QString::number(n);
        const int width = metrics.horizontalAdvance(number);
        if (width <= BoxWidth) {
            Painter->setPen(textColour);
            Painter->drawText(
                QPoint(box.left() + (BoxWidth - width) / 2, box.top() + 1 + metrics.ascent()), number);
        }
    }
    Painter->restore();
}

void TDetailsDelegate::paint(
    QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const
{
    const bool selected = Option.state & QStyle::State_Selected;
    const QColor background = selected ? kSelectedRow : (Index.row() % 2 == 0 ? kEvenRow : kOddRow);
    const QColor text = selected ? kSelectedText : QColor(Qt::black);
    const QString cell = Index.data(Qt::DisplayRole).toString();
    Painter->save();
    Painter->setFont(Option.font);
    switch (Index.column()) {
    case TFormDetails::Col_Channels:
        PaintChannels(Painter, Option.rect, cell, background, text);
        break;
    case TFormDetails::Col_State: {
        Painter->fillRect(Option.rect, background);
        QPixmap image;
        if (cell == QLatin1String("0"))
            image = StateImage(2); // green dot
        else if (cell == QLatin1String("1"))
            image = StateImage(1); // red dot
        if (!image.isNull()) {
            const QSize size = image.deviceIndependentSize().toSize();
            const QPoint at(Option.rect.left() + (Option.rect.width() - size.width()) / 2,
                Option.rect.top() + (Option.rect.height() - size.height()) / 2);
            Painter->drawPixmap(at, image);
        }
        break;
    }
    default:
        Painter->fillRect(Option.rect, background);
        Painter->setPen(text);
        Painter->drawText(Option.rect.adjusted(3, 0, -2, 0), int(Qt::AlignLeft | Qt::AlignVCenter),
            Option.fontMetrics.elidedText(cell, Qt::ElideRight, Option.rect.width() - 5));
    }
    Painter->restore();
}

TFormDetails::TFormDetails(QWidget *Parent)
    : QDialog(Parent, Qt::Tool)
{
    setObjectName(QStringLiteral("FormDetails"));
    setWindowTitle(QStringLiteral("Detay"));
    setModal(true);

    TLAlarm = new QTreeWidget(this);
    TLAlarm->setObjectName(QStringLiteral("TLAlarm"));
    TLAlarm->setColumnCount(3);
    TLAlarm->setHeaderLabels(
        {QStringLiteral("Açıklama"), QStringLiteral("Durum"), QStringLiteral("Kanallar")});
    TLAlarm->setRootIsDecorated(false);
    TLAlarm->setItemsExpandable(false);
    TLAlarm->setUniformRowHeights(true);
    TLAlarm->setSelectionBehavior(QAbstractItemView::SelectRows);
    TLAlarm->setSelectionMode(QAbstractItemView::SingleSelection);
    TLAlarm->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TLAlarm->setFocusPolicy(Qt::NoFocus);
    TLAlarm->setItemDelegate(new TDetailsDelegate(TLAlarm));
    TLAlarm->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QHeaderView *header = TLAlarm->header();
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: rgb(224, 227, 245); "
                       "font-weight: bold; border: none; border-right: 1px solid rgb(191, 198, 230); "
                       "border-bottom: 1px solid rgb(191, 198, 230); padding: 2px 3px; }"));
    if (QTreeWidgetItem *head = TLAlarm->headerItem())
        head->setTextAlignment(Col_State, Qt::AlignCenter);
    QPalette listPal = TLAlarm->palette();
    listPal.setColor(QPalette::Base, kEvenRow);
    TLAlarm->setPalette(listPal);
    TLAlarm->viewport()->installEventFilter(this);

    PnlBottom = new QWidget(this);
    PnlBottom->setObjectName(QStringLiteral("PnlBottom"));
    PnlBottom->setFixedHeight(21);
    PnlBottom->setAutoFillBackground(true);
    QPalette bottomPal = PnlBottom->palette();
    bottomPal.setColor(QPalette::Window, kHeaderColour);
    PnlBottom->setPalette(bottomPal);
    lblAlarm = new QLabel(PnlBottom);
    lblAlarm->setObjectName(QStringLiteral("lblAlarm"));
    QPalette alarmPal = lblAlarm->palette();
    alarmPal.setColor(QPalette::WindowText, Qt::red);
    lblAlarm->setPalette(alarmPal);
    lblTime = new QLabel(PnlBottom);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    // 110 pixels hold the time in the original's small font; ours may need more, never less.
    lblTime->setMinimumWidth(110);
    auto *bottom = new QHBoxLayout(PnlBottom);
    bottom->setContentsMargins(4, 0, 4, 0);
    bottom->addWidget(lblAlarm, 1);
    bottom->addWidget(lblTime);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TLAlarm);
    layout->addWidget(PnlBottom);

    resize(475, 168);
    setMinimumSize(400, 168);
    FitColumns();

    CloseOnEscape(this, [this] { reject(); });
}

void TFormDetails::AddRow(const QString &Desc, const QString &State, const QString &Channels)
{
    auto *item = new QTreeWidgetItem(TLAlarm);
    item->setText(Col_Desc, Desc);
    item->setText(Col_State, State);
    item->setText(Col_Channels, Channels);
    item->setToolTip(Col_Desc, Desc);
}

void TFormDetails::FillReport(const QString &ReportText)
{
    TLAlarm->clear();
    TLAlarm->setUpdatesEnabled(false);
    try {
        const TGetDetails details(ReportText);
        AddRow(Format("Sunucu versiyon %s", details.ServerVersion), QStringLiteral("2"), QString());
        AddRow(
            Format("Kalan Disk Alanı %s", details.FreeDisk), QString::number(details.DiskAlarm), QString());
        AddRow(Format("Kalan Yedekleme Disk Alanı %s", details.FreeBackupDisk),
            QString::number(details.BackupDiskAlarm), QString());
        int largest = 0;
        for (int i = 0; i < details.DeviceCount; ++i) {
            const TDevice device = details.GetDevice(i);
            const bool red = device.State == 2 ? device.Capacity == 0 : device.State == 1;
            AddRow(Format("Aygıt SeriNo/Kapasite %s / %d", device.SerialNo, device.Capacity),
                red ? QStringLiteral("1") : QStringLiteral("0"), details.ChannelStates(i));
            largest = std::max(largest, device.Capacity);
        }
        if (largest > 0)
            channelsWidth = TDetailsDelegate::BoxWidth * std::min(largest, kMaxChannels);
    } catch (const std::exception &error) {
        LogError(10004, QString::fromUtf8(error.what()));
    }
    TLAlarm->setUpdatesEnabled(true);
    FitColumns();
}

void TFormDetails::FillPlusReport(const QString &ReportText)
{
    TLAlarm->clear();
    TLAlarm->setUpdatesEnabled(false);
    try {
        const TGetPlusDetails details(ReportText);
        AddRow(Format("%s(%s)", details.ServerName, details.ServerIp), QStringLiteral("2"), QString());
        for (int i = 0; i < details.DeviceCount(); ++i) {
            const TPlusDevice device = details.GetDevice(i);
            AddRow(Format("Aygıt SeriNo/Kapasite %s / %d", device.Serial, device.ChannelCount),
                device.HasAlarm ? QStringLiteral("1") : QStringLiteral("0"), details.ChannelStates(i));
        }
    } catch (const std::exception &) {
        // An extended report that cannot be read keeps the rows made so far, without a log line.
    }
    TLAlarm->setUpdatesEnabled(true);
    FitColumns();
}

int TFormDetails::ShowFor(const QString &StateText, const QString &Time, const QString &ReportText, bool Plus)
{
    lblAlarm->setText(StateText);
    lblTime->setText(Time);
    return Plus ? ShowPlusReport(ReportText) : ShowReport(ReportText);
}

int TFormDetails::ShowReport(const QString &ReportText)
{
    FillReport(ReportText);
    FitWindow();
    return exec();
}

void TFormDetails::FitWindow()
{
    // Wide channel boxes widen the window rather than squeeze the texts, up to the room the screen has: one
    // resize to the final width, since a window manager may apply a second one out of order.
    // The list's frame is measured on the list itself: before the first showing its viewport has no
    // width yet, and the difference to the window's width made the window hundreds of pixels too wide.
    const int frame = TLAlarm->width() - TLAlarm->maximumViewportSize().width();
    const int wanted = std::min(kDescWidth + kStateWidth + channelsWidth + frame, ScreenRoom().width());
    if (wanted > width())
        resize(wanted, height());
}

int TFormDetails::ShowPlusReport(const QString &ReportText)
{
    FillPlusReport(ReportText);
    return exec();
}

void TFormDetails::FitColumns()
{
    // The description takes the room the fixed columns leave, never less than its minimum; when even that
    // does not fit, the list scrolls sideways.
    const int available = TLAlarm->viewport()->width();
    const int desc
        = std::max(kDescMinWidth, available > 0 ? available - kStateWidth - channelsWidth : kDescWidth);
    QHeaderView *header = TLAlarm->header();
    header->resizeSection(Col_Desc, desc);
    header->resizeSection(Col_State, kStateWidth);
    header->resizeSection(Col_Channels, channelsWidth);
}

bool TFormDetails::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == TLAlarm->viewport() && Event->type() == QEvent::Resize)
        FitColumns();
    return QDialog::eventFilter(Watched, Event);
}

QPoint TFormDetails::PlaceAtPointer(QPoint Pointer, QSize Frame, const QRect &Available)
{
    const int x = std::clamp(Pointer.x() - Frame.width(), Available.left(),
        std::max(Available.left(), Available.right() + 1 - Frame.width()));
    const int y = std::clamp(
        Pointer.y(), Available.top(), std::max(Available.top(), Available.bottom() + 1 - Frame.height()));
    return QPoint(x, y);
}

QMargins TFormDetails::FrameMargins() const
{
    // The window manager's frame is known only once a window has been shown. The details open from a click
    // in the main window, so before their first showing its frame is the best guess.
    QList<const QWidget *> windows{this};
    for (const QWidget *other : QApplication::topLevelWidgets())
        if (other != this && other->isVisible())
            windows << other;
    for (const QWidget *window : windows) {
        const QRect frame = window->frameGeometry();
        const QRect inner = window->geometry();
        const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(),
            frame.right() - inner.right(), frame.bottom() - inner.bottom());
        if (!margins.isNull())
            return margins;
    }
    return QMargins();
}

QRect TFormDetails::ScreenAtPointer(QPoint Pointer)
{
    const QScreen *screen = QGuiApplication::screenAt(Pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QSize TFormDetails::ScreenRoom() const
{
    const QRect available = ScreenAtPointer(QCursor::pos());
    if (available.isEmpty())
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QMargins margins = FrameMargins();
    return QSize(available.width() - margins.left() - margins.right(),
        available.height() - margins.top() - margins.bottom());
}

void TFormDetails::showEvent(QShowEvent *Event)
{
    // The window's top-right corner goes to the mouse pointer, moved inside the screen's available area, and
    // the window is never larger than that area. Size and place go to the window system in one request.
    const QPoint pointer = QCursor::pos();
    const QRect available = ScreenAtPointer(pointer);
    if (!available.isEmpty()) {
        const QMargins margins = FrameMargins();
        const QSize room = ScreenRoom();
        setMinimumSize(std::min(400, room.width()), std::min(168, room.height()));
        const QSize fitted(std::min(width(), room.width()), std::min(height(), room.height()));
        // Placed by its client area: a window manager may take a frame position for the client's (openbox
        // does while the window has never been framed), a client position it takes as it is.
        const QPoint frameAt = PlaceAtPointer(pointer, fitted.grownBy(margins), available);
        setGeometry(QRect(frameAt + QPoint(margins.left(), margins.top()), fitted));
    }
    QDialog::showEvent(Event);
}

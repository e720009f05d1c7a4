// The main window's commands on the list and the help menu: add, change, delete, check one, a system's
// history, the clicks on the Select and State cells, the send command and the settings. A dialog names its
// record by identity: a cycle that re-sorts the rows while it is open cannot move its result onto another
// system.
#include "console/CheckListBox.h"
#include "console/HistoryWindow.h"
#include "console/Icons.h"
#include "console/Main.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "console/UnitAlarmNotes.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "platform/Logger.h"
#include "session/ConsoleSession.h"
#include <cmath>
#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

namespace {

QString ErrorMessage(const std::exception &Error)
{
    return QString::fromUtf8(Error.what());
}

} // namespace

void TMainForm::CreateListMenu()
{
    listMenu = new QMenu(serviceList);
    listMenu->setObjectName(QStringLiteral("PopupMenu1"));
    checkAction = listMenu->addAction(Glyph(7), QStringLiteral("Denetle"));
    checkAction->setObjectName(QStringLiteral("Kontrolet2"));
    deleteAction = listMenu->addAction(Glyph(5), QStringLiteral("Kaydı Sil"));
    deleteAction->setObjectName(QStringLiteral("KaydSil1"));
    deleteAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    changeAction = listMenu->addAction(Glyph(10), QStringLiteral("Değiştir"));
    changeAction->setObjectName(QStringLiteral("Deitir1"));
    changeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    historyAction = listMenu->addAction(Glyph(15), QStringLiteral("Geçmiş"));
    historyAction->setObjectName(QStringLiteral("Gecmis1"));
    // The shortcuts act on the focused row while the list has the focus, with or without the menu.
    for (QAction *action : {deleteAction, changeAction}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        serviceList->addAction(action);
    }
    // The alarm's entries join the menu only when they apply to the row under it (ShowListMenuFor).
    acknowledgeAction = new QAction(QStringLiteral("Alarmı Onayla"), listMenu);
    acknowledgeAction->setObjectName(QStringLiteral("AlarmOnayla"));
    unacknowledgeAction = new QAction(QStringLiteral("Onayı Kaldır"), listMenu);
    unacknowledgeAction->setObjectName(QStringLiteral("OnayiKaldir"));
    maintenanceAction = new QAction(QStringLiteral("Bakıma Al"), listMenu);
    maintenanceAction->setObjectName(QStringLiteral("BakimaAl"));
    endMaintenanceAction = new QAction(QStringLiteral("Bakımı Bitir"), listMenu);
    endMaintenanceAction->setObjectName(QStringLiteral("BakimiBitir"));
    connect(acknowledgeAction, &QAction::triggered, this, &TMainForm::AcknowledgeFocused);
    connect(unacknowledgeAction, &QAction::triggered, this, &TMainForm::RemoveAcknowledgementFocused);
    connect(maintenanceAction, &QAction::triggered, this, &TMainForm::MaintenanceFocused);
    connect(endMaintenanceAction, &QAction::triggered, this, &TMainForm::EndMaintenanceFocused);
    acknowledgeDialog = new TFormAcknowledge(this);
    maintenanceDialog = new TFormMaintenance(this);
    connect(checkAction, &QAction::triggered, this, &TMainForm::CheckFocused);
    connect(deleteAction, &QAction::triggered, this, &TMainForm::DeleteRecord);
    connect(changeAction, &QAction::triggered, this, &TMainForm::ChangeRecord);
    connect(historyAction, &QAction::triggered, this, &TMainForm::ShowHistory);

    serviceList->setContextMenuPolicy(Qt::DefaultContextMenu);
    serviceList->installEventFilter(this);
    serviceList->viewport()->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject *Watched, QEvent *Event)
{
    QWidget *viewport = serviceList ? serviceList->viewport() : nullptr;
    if (!viewport || (Watched != viewport && Watched != serviceList))
        return QMainWindow::eventFilter(Watched, Event);
    if (Event->type() == QEvent::ContextMenu) {
        // Only a right click on a row opens the menu; the keyboard's menu key opens nothing.
        auto *menu = static_cast<QContextMenuEvent *>(Event);
        if (menu->reason() == QContextMenuEvent::Mouse && Watched == viewport
            && serviceList->indexAt(menu->pos()).isValid()) {
            ShowListMenuFor(session.List().IdAt(serviceList->indexAt(menu->pos()).row()));
            listMenu->popup(menu->globalPos());
        }
        return true;
    }
    // The keyboard's clicks on the focused row: Space on its mark, Enter on its dot.
    if (Watched == serviceList && Event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(Event);
        const bool space = key->key() == Qt::Key_Space;
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if ((space || enter) && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat())
                ListClick(FocusedIndex(), space ? TSystemRecord::Select : TSystemRecord::State);
            return true;
        }
    }
    if (Watched == viewport && Event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(Event);
        if (mouse->button() == Qt::LeftButton) {
            const QModelIndex index = serviceList->indexAt(mouse->position().toPoint());
            if (index.isValid())
                ListClick(index.row(), index.column());
        }
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TMainForm::CheckFocused()
{
    try {
        session.CheckRecord(FocusedRecord());
    } catch (const std::exception &error) {
        ShowGeneralError(ErrorMessage(error));
    }
}

void TMainForm::ListClick(int Position, int Column)
{
    const TSystemList &list = session.List();
    if (session.Busy() || Position < 0 || Position >= list.Count())
        return;
    try {
        if (Column == TSystemRecord::Select) {
            session.ToggleSelect(list.IdAt(Position));
        } else if (Column == TSystemRecord::State && details) {
            const double state = list.CellAsNumber(Position, TSystemRecord::State);
            if (state < int(csWorkingReport) || state > int(csAlarm) || state != std::floor(state))
                return;
            details->ShowFor(StateDescription(int(state)) + session.StateMark(list.IdAt(Position)),
                list.Cell(Position, TSystemRecord::ColDateTime), list.Cell(Position, TSystemRecord::Details),
                list.CellAsFlag(Position, TSystemRecord::ColZYRplus));
        }
    } catch (const std::exception &error) {
        ShowGeneralError(ErrorMessage(error));
    }
}

void TMainForm::ShowHistory()
{
    const int position = FocusedIndex();
    if (position < 0 || !history)
        return;
    const TSystemList &list = session.List();
    history->ShowFor(list.Cell(position, TSystemRecord::Name), list.Cell(position, TSystemRecord::IP));
}

void TMainForm::AddRecord()
{
    if (session.Busy() || !editor)
        return;
    editor->SetMode(false);
    editor->SetAddresses(session.Settings().Emails);
    if (editor->exec() != QDialog::Accepted)
        return;
    // Confirmed during a cycle that started under the dialog: the record joins the list at once, takes
    // no part in that cycle and moves to its sorted place when the cycle ends.
    session.AddRecord(editor->Fields());
}

void TMainForm::ChangeRecord()
{
    const TRecordId record = FocusedRecord();
    if (session.Busy() || record == 0 || !editor)
        return;
    const TSystemList &list = session.List();
    const int position = list.PositionOf(record);
    editor->SetMode(true);
    editor->SetAddresses(session.Settings().Emails);
    TRecordFields fields;
    fields.Name = list.Cell(position, TSystemRecord::Name);
    fields.IP = list.Cell(position, TSystemRecord::IP);
    fields.DeviceCnt = list.Cell(position, TSystemRecord::DeviceCnt);
    fields.Email = list.Cell(position, TSystemRecord::Email);
    try {
        fields.ZYRplus = list.CellAsFlag(position, TSystemRecord::ColZYRplus);
    } catch (const std::exception &error) {
        ShowGeneralError(ErrorMessage(error));
        return;
    }
    editor->SetFields(fields);
    if (editor->exec() != QDialog::Accepted)
        return;
    session.ChangeRecord(record, editor->Fields());
}

void TMainForm::DeleteRecord()
{
    const TRecordId record = FocusedRecord();
    if (session.Busy() || record == 0)
        return;
    const QString name = session.List().Cell(session.List().PositionOf(record), TSystemRecord::Name);
    if (ConfirmBox(Format("\"%s\" isimli kayıt silinsin mi?", name)) != IDOK)
        return;
    session.DeleteRecord(record);
}

void TMainForm::GonderClick()
{
    if (session.Busy())
        return;
    if (ConfirmBox(QStringLiteral("Görüntülenen sonuçlar e-posta ile gönderilsin mi?")) != IDOK)
        return;
    session.SendStatusMails();
}

void TMainForm::OpenSettings()
{
    if (!session.Busy() && settingsDialog)
        settingsDialog->Execute();
}

void TMainForm::ListSaveFailed(const QString &Message, bool First)
{
    // Logged each time by the session; shown once per run.
    if (First)
        ShowGeneralError(Message);
}

TRowMarks TMainForm::MarksOf(int Position) const
{
    TRowMarks row;
    const TCheckEngine &engine = session.Engine();
    const TSystemList &list = session.List();
    if (Position < 0 || Position >= list.Count())
        return row;
    const TAlarmMark *mark = engine.Mark(list.IdAt(Position));
    if (engine.Unconfirmed(Position)) {
        row.Unconfirmed = true;
        row.Confirming = Format("Doğrulanıyor: %d/%d", mark ? mark->Count : 0, session.Settings().AlarmAfter);
    }
    if (mark && mark->Ack) {
        row.Acknowledged = true;
        row.Notes << Format("Onaylandı: %s (%s)", mark->Ack->Note, FormatMarkTime(mark->Ack->Time));
    }
    if (mark && mark->Maintenance) {
        row.Maintenance = true;
        row.Notes << Format(
            "Bakımda: %s (bitiş %s)", mark->Maintenance->Note, FormatMarkTime(mark->Maintenance->End));
    }
    return row;
}

void TMainForm::ShowListMenuFor(TRecordId Record)
{
    const TSystemList &list = session.List();
    const int position = list.PositionOf(Record);
    const TAlarmMark *mark = session.Engine().Mark(Record);
    const QString state = position >= 0 ? list.Cell(position, TSystemRecord::State).trimmed() : QString();
    const bool alarm = state.size() == 1 && IsAlarmState(state.toInt());
    const bool acknowledged = mark && mark->Ack;
    const std::pair<QAction *, bool> entries[]
        = {{acknowledgeAction, alarm && !acknowledged}, {unacknowledgeAction, acknowledged},
            {maintenanceAction, position >= 0}, {endMaintenanceAction, mark && mark->Maintenance}};
    for (const auto &[action, applies] : entries) {
        listMenu->removeAction(action);
        if (applies)
            listMenu->addAction(action);
    }
}

void TMainForm::AcknowledgeFocused()
{
    const TRecordId record = FocusedRecord();
    if (record == 0 || !acknowledgeDialog)
        return;
    acknowledgeDialog->Reset();
    if (acknowledgeDialog->exec() != QDialog::Accepted || acknowledgeDialog->Note().isEmpty())
        return;
    session.Acknowledge(record, acknowledgeDialog->Note(), acknowledgeDialog->All());
}

void TMainForm::RemoveAcknowledgementFocused()
{
    if (const TRecordId record = FocusedRecord(); record != 0)
        session.RemoveAcknowledgement(record);
}

void TMainForm::MaintenanceFocused()
{
    const TRecordId record = FocusedRecord();
    if (record == 0 || !maintenanceDialog)
        return;
    maintenanceDialog->Reset();
    if (maintenanceDialog->exec() != QDialog::Accepted)
        return;
    session.StartMaintenance(record, maintenanceDialog->Note(), maintenanceDialog->End().toSecsSinceEpoch(),
        maintenanceDialog->All());
}

void TMainForm::EndMaintenanceFocused()
{
    if (const TRecordId record = FocusedRecord(); record != 0)
        session.EndMaintenance(record);
}

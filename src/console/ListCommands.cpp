#include "console/ListCommands.h"
#include "console/About.h"
#include "console/CheckListBox.h"
#include "console/Help.h"
#include "console/Icons.h"
#include "console/Main.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "platform/Logger.h"
#include "store/AppUtils.h"
#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

namespace {

QString ErrorMessage(const std::exception &Error)
{
    return QString::fromUtf8(Error.what());
}

} // namespace

TListCommands::TListCommands(
    TMainForm &Form, TFormNewRecord &Editor, TFormDetails &Details, TFormHelp &Help, TFormAbout &About)
    : QObject(&Form)
    , form(Form)
    , editor(Editor)
    , details(Details)
    , help(Help)
    , about(About)
{
    listMenu = new QMenu(form.ServiceList);
    listMenu->setObjectName(QStringLiteral("PopupMenu1"));
    checkAction = listMenu->addAction(Glyph(7), QStringLiteral("Denetle"));
    checkAction->setObjectName(QStringLiteral("Kontrolet2"));
    deleteAction = listMenu->addAction(Glyph(5), QStringLiteral("Kaydı Sil"));
    deleteAction->setObjectName(QStringLiteral("KaydSil1"));
    deleteAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    changeAction = listMenu->addAction(Glyph(10), QStringLiteral("Değiştir"));
    changeAction->setObjectName(QStringLiteral("Deitir1"));
    changeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    // The shortcuts act on the focused row while the list has the focus, with or without the menu.
    for (QAction *action : {deleteAction, changeAction}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        form.ServiceList->addAction(action);
    }
    connect(checkAction, &QAction::triggered, this, [this] {
        try {
            form.CheckFocused();
        } catch (const std::exception &error) {
            ShowGeneralError(ErrorMessage(error));
        }
    });
    connect(deleteAction, &QAction::triggered, this, &TListCommands::DeleteRecord);
    connect(changeAction, &QAction::triggered, this, &TListCommands::ChangeRecord);

    connect(form.Ekle, &QAction::triggered, this, &TListCommands::AddRecord);
    connect(form.Gonder, &QAction::triggered, this, &TListCommands::GonderClick);
    connect(form.logFileAction, &QAction::triggered, this, [] { OpenLogFile(); });
    connect(form.userGuideAction, &QAction::triggered, this, [this] { help.ShowHelp(); });
    connect(form.aboutAction, &QAction::triggered, this, [this] { about.ShowAbout(); });

    form.ServiceList->setContextMenuPolicy(Qt::DefaultContextMenu);
    form.ServiceList->installEventFilter(this);
    form.ServiceList->viewport()->installEventFilter(this);
    // Runs after the main window's own handler of the header, which flips every Select on the first column.
    connect(form.ServiceList->header(), &QHeaderView::sectionClicked, this, [this](int Column) {
        if (Column == TSystemRecord::Select && !form.Busy())
            ListChanged();
    });
    if (form.FormSettings)
        form.FormSettings->RecordsChanged = [this] { ListChanged(); };
    // The send command's selection error, shown as the general error display shows any other.
    connect(form.Engine, &TCheckEngine::SendFailed, this,
        [](const QString &message) { ShowGeneralError(message); });
}

bool TListCommands::eventFilter(QObject *Watched, QEvent *Event)
{
    QWidget *viewport = form.ServiceList->viewport();
    if (Event->type() == QEvent::ContextMenu && (Watched == viewport || Watched == form.ServiceList)) {
        // Only a right click on a row opens the menu; the keyboard's menu key opens nothing.
        auto *menu = static_cast<QContextMenuEvent *>(Event);
        if (menu->reason() == QContextMenuEvent::Mouse && Watched == viewport
            && form.ServiceList->indexAt(menu->pos()).isValid())
            listMenu->popup(menu->globalPos());
        return true;
    }
    // The keyboard's clicks on the focused row: Space on its mark, Enter on its dot.
    if (Watched == form.ServiceList && Event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(Event);
        const bool space = key->key() == Qt::Key_Space;
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if ((space || enter) && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat())
                ListClick(form.FocusedIndex(), space ? TSystemRecord::Select : TSystemRecord::State);
            return true;
        }
    }
    if (Watched == viewport && Event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(Event);
        if (mouse->button() == Qt::LeftButton) {
            const QModelIndex index = form.ServiceList->indexAt(mouse->position().toPoint());
            if (index.isValid())
                ListClick(index.row(), index.column());
        }
    }
    return QObject::eventFilter(Watched, Event);
}

void TListCommands::ListClick(int Position, int Column)
{
    TSystemList &list = form.List;
    if (form.Busy() || Position < 0 || Position >= list.Count())
        return;
    try {
        if (Column == TSystemRecord::Select) {
            form.Engine->ToggleSelect(list.IdAt(Position));
            ListChanged();
        } else if (Column == TSystemRecord::State) {
            const double state = list.CellAsNumber(Position, TSystemRecord::State);
            if (state < int(csWorkingReport) || state > int(csAlarm) || state != std::floor(state))
                return;
            details.lblAlarm->setText(StateDescription(int(state)));
            details.lblTime->setText(list.Cell(Position, TSystemRecord::ColDateTime));
            const QString report = list.Cell(Position, TSystemRecord::Details);
            if (list.CellAsFlag(Position, TSystemRecord::ColZYRplus))
                details.ShowPlusReport(report);
            else
                details.ShowReport(report);
        }
    } catch (const std::exception &error) {
        ShowGeneralError(ErrorMessage(error));
    }
}

void TListCommands::AddRecord()
{
    if (form.Busy())
        return;
    editor.SetMode(false);
    editor.SetAddresses(form.Settings().Emails);
    if (editor.exec() != QDialog::Accepted)
        return;
    // Confirmed during a cycle that started under the dialog: the record joins the list at once, takes
    // no part in that cycle and moves to its sorted place when the cycle ends.
    form.Engine->AddRecord({editor.edtName->text(), editor.edtIP->text(), editor.edtDeviceCnt->text(),
        GetCheckedList(editor.Emails), editor.cbZYRplus->isChecked()});
    ListChanged();
}

void TListCommands::ChangeRecord()
{
    const TRecordId record = form.FocusedRecord();
    if (form.Busy() || record == 0)
        return;
    TSystemList &list = form.List;
    const int position = list.PositionOf(record);
    editor.SetMode(true);
    editor.edtName->setText(list.Cell(position, TSystemRecord::Name));
    editor.edtIP->setText(list.Cell(position, TSystemRecord::IP));
    editor.edtDeviceCnt->setText(list.Cell(position, TSystemRecord::DeviceCnt));
    editor.SetAddresses(form.Settings().Emails);
    try {
        editor.cbZYRplus->setChecked(list.CellAsFlag(position, TSystemRecord::ColZYRplus));
    } catch (const std::exception &error) {
        ShowGeneralError(ErrorMessage(error));
        return;
    }
    SetCheckedList(editor.Emails, list.Cell(position, TSystemRecord::Email));
    if (editor.exec() != QDialog::Accepted)
        return;
    if (form.Engine->ChangeRecord(record,
            {editor.edtName->text(), editor.edtIP->text(), editor.edtDeviceCnt->text(),
                GetCheckedList(editor.Emails), editor.cbZYRplus->isChecked()}))
        ListChanged();
}

void TListCommands::DeleteRecord()
{
    const TRecordId record = form.FocusedRecord();
    if (form.Busy() || record == 0)
        return;
    const QString name = form.List.Cell(form.List.PositionOf(record), TSystemRecord::Name);
    if (ConfirmBox(Format("\"%s\" isimli kayıt silinsin mi?", name)) != IDOK)
        return;
    if (form.Engine->DeleteRecord(record))
        ListChanged();
}

void TListCommands::GonderClick()
{
    if (form.Busy())
        return;
    if (ConfirmBox(QStringLiteral("Görüntülenen sonuçlar e-posta ile gönderilsin mi?")) != IDOK)
        return;
    form.Engine->SendStatusMails();
}

void TListCommands::ListChanged()
{
    form.UpdateTrayState();
    try {
        form.SaveListAsOnClose();
    } catch (const std::exception &error) {
        Log(ErrorMessage(error));
        if (!saveErrorShown) {
            saveErrorShown = true;
            ShowGeneralError(ErrorMessage(error));
        }
    }
}

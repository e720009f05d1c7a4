#pragma once
#include <QObject>

class QAction;
class QMenu;
class TFormAbout;
class TFormDetails;
class TFormHelp;
class TFormNewRecord;
class TMainForm;

// The operator's commands on the list and the help menu: add, change, delete, check one, the clicks on
// the Select and State cells, the send command, the user guide, the about box and the log file. Every
// change of the list is saved at once, the way a close saves it, so a crash loses nothing entered.
// A dialog names its record by identity: a cycle that re-sorts the rows while it is open cannot move its
// result onto another system.
class TListCommands : public QObject
{
public:
    TListCommands(
        TMainForm &Form, TFormNewRecord &Editor, TFormDetails &Details, TFormHelp &Help, TFormAbout &About);

    void AddRecord();
    void ChangeRecord();
    void DeleteRecord();
    // A left click released over a cell of a row; also Space (Select) and Enter (State) on the focused row.
    void ListClick(int Position, int Column);
    void GonderClick();
    // Saves the list now; a failure is logged, and shown once per run.
    void ListChanged();

    QMenu *listMenu;
    QAction *checkAction;
    QAction *deleteAction;
    QAction *changeAction;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    TMainForm &form;
    TFormNewRecord &editor;
    TFormDetails &details;
    TFormHelp &help;
    TFormAbout &about;
    bool saveErrorShown = false;
};

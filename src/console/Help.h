#pragma once
#include <functional>
#include <QDialog>

class QUrl;

class QTextBrowser;
class QPushButton;

// Name of the user guide among the program's resources; the guide is HTML (Qt's rich text).
inline constexpr const char *kHelpResourceName = "HELPTR";

// The user guide in a window of its own that may stay open beside the main window.
class TFormHelp : public QDialog
{
public:
    explicit TFormHelp(QWidget *Parent = nullptr);

    // Shows the window, or brings it to the front when it is already open.
    void ShowHelp();

private:
    QTextBrowser *reAbout;
    QPushButton *btnExit;
};

// Asks the desktop to open a link, a file or a new mail. Tests replace the opener to watch the requests.
void OpenUrl(const QUrl &Url);
extern std::function<void(const QUrl &)> OpenUrlHook;

// Opens the event log file (in the current directory, or in the installed program's data folder) with the
// desktop's viewer for it. The outcome is not
// checked: a missing file or viewer shows whatever the desktop shows.
void OpenLogFile();

class QPushButton;
// The bottom panel of the help and about windows: one centred "Tamam" button (object name btnExit).
QWidget *MakeTamamPanel(QWidget *Window, QPushButton *&Button);

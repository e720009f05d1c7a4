#include "app/Program.h"
#include "console/Main.h"
#include <QApplication>

int RunProgram(int argc, char **argv)
{
    QApplication app(argc, argv);
    TMainForm form;
    form.show();
    return app.exec();
}

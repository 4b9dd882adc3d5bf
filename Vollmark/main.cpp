// The controller program.

#include "app/ControllerApp.h"
#include "gui/DialogPlacement.h"
#include "gui/QtTranslation.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    InstallQtTranslation(application);
    gui::CDialogPlacement dialogPlacement;
    CControllerApp app;
    return app.Run();
}

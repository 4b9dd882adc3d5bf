// The controller program.

#include "app/ControllerApp.h"
#include "gui/QtTranslation.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    InstallQtTranslation(application);
    CControllerApp app;
    return app.Run();
}

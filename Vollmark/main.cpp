// The controller program.

#include "app/ControllerApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    CControllerApp app;
    return app.Run();
}

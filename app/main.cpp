// Clipmora's entry point: the application's names, then the main window.
#include "app/application_identity.h"
#include "app/main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    clipmora::NameApplication();

    clipmora::TForm1 form(QApplication::applicationDirPath());
    if (form.StartupFailed())
        return 1;
    form.show();
    return application.exec();
}

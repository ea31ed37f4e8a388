// Clipmora's entry point: the application's title, then the main window.
#include "app/main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Clipmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Clipmora"));
    QApplication::setOrganizationName(QStringLiteral("Velmar"));

    clipmora::TForm1 form(QApplication::applicationDirPath());
    if (form.StartupFailed())
        return 1;
    form.show();
    return application.exec();
}

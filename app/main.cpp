// Clipmora's entry point: the application's names, then the main window.
// Files named on the command line (an "Open with" from a file manager) open
// as if they had been picked in "Add Video File".
#include "app/application_identity.h"
#include "app/main_window.h"

#include <QApplication>
#include <QIcon>
#include <QMetaObject>

#include <csignal>

int main(int argc, char** argv)
{
    // A file size limit then fails the write that passes it, and the split
    // ends as on a full disk instead of the program being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    clipmora::NameApplication();
    // The desktop matches the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("clipmora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("clipmora")));

    clipmora::TForm1 form(QApplication::applicationDirPath());
    if (form.StartupFailed())
        return 1;
    form.show();
    const QStringList files = clipmora::VideoFilesFromArguments(application.arguments().mid(1));
    if (!files.isEmpty())
        QMetaObject::invokeMethod(
            &form, [&form, files] { form.AddVideoFiles(files); }, Qt::QueuedConnection);
    return application.exec();
}

// Clipmora's entry point: the application's names, then the main window.
// Files named on the command line (an "Open with" from a file manager) open
// as if they had been picked in "Add Video File".
//
// With CLIPMORA_EXIT_AFTER_FIRST_PAINT set in the environment the program
// prints "painted" on standard output once the main window has been painted
// for the first time, and ends there (without the close steps, so the stored
// settings stay as they were): bench/startup_bench times launches by it.
#include "app/application_identity.h"
#include "app/main_window.h"
#include "framesrv/frame_server.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMetaObject>

#include <csignal>
#include <cstdio>

namespace {

// Ends the application once the window it watches has been painted: the
// queued call runs after the paint that the window's event opens has been
// put on the screen.
class ExitAfterFirstPaint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(
                this,
                [] {
                    std::puts("painted");
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    // A file size limit then fails the write that passes it, and the split
    // ends as on a full disk instead of the program being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    clipmora::framesrv::InstallFrameServer();
    QApplication application(argc, argv);
    clipmora::NameApplication();
    // The desktop matches the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("clipmora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("clipmora")));

    clipmora::TForm1 form(QApplication::applicationDirPath());
    if (form.StartupFailed())
        return 1;
    if (qEnvironmentVariableIsSet("CLIPMORA_EXIT_AFTER_FIRST_PAINT"))
        form.installEventFilter(new ExitAfterFirstPaint(&form));
    form.show();
    const QStringList files = clipmora::VideoFilesFromArguments(application.arguments().mid(1));
    if (!files.isEmpty())
        QMetaObject::invokeMethod(
            &form, [&form, files] { form.AddVideoFiles(files); }, Qt::QueuedConnection);
    return application.exec();
}

// Clipmora's entry point: the application's names, then the main window.
// The window binds the codec libraries and starts the preview's playback
// framework right after its first paint; files named on the command line (an
// "Open with" from a file manager) open after that, as if they had been
// picked in "Add Video File".
//
// With CLIPMORA_EXIT_AFTER_FIRST_PAINT set in the environment the program
// prints "painted" on standard output once the main window has been painted
// for the first time, then "ready" once the rest of its start-up is done, and
// ends there (without the close steps, so the stored settings stay as they
// were): bench/startup_bench times launches by these lines.
#include "app/application_identity.h"
#include "app/file_names.h"
#include "app/main_window.h"
#include "framesrv/frame_server.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMetaObject>

#include <csignal>
#include <cstdio>

namespace {

// Says "painted" once the window it watches has been painted (the queued
// call runs after the paint that the window's event opens has been put on
// the screen), then "ready" and ends the application once the window has
// finished its start-up.
class ExitAfterFirstPaint : public QObject {
public:
    explicit ExitAfterFirstPaint(clipmora::TForm1* form) : QObject(form)
    {
        form->installEventFilter(this);
        connect(
            form, &clipmora::TForm1::StartupFinished, this,
            [] {
                say("ready");
                QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(this, [] { say("painted"); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    static void say(const char* line)
    {
        std::puts(line);
        std::fflush(stdout);
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

    clipmora::TForm1 form(QApplication::applicationDirPath(),
                          clipmora::CodecBinding::AfterFirstPaint);
    if (form.StartupFailed())
        return 1;
    // A library that is there but cannot be bound ends the program as a
    // missing one does, once its message has been answered.
    QObject::connect(&form, &clipmora::TForm1::CodecLibrariesFailed, &application,
                     [] { QCoreApplication::exit(1); });
    // The names as the system gave them: a name that is not UTF-8 keeps its
    // bytes (the toolkit's own list would read them as other characters).
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments << clipmora::NameFromBytes(argv[index]);
    const QStringList files = clipmora::VideoFilesFromArguments(arguments);
    if (!files.isEmpty())
        QObject::connect(
            &form, &clipmora::TForm1::StartupFinished, &form,
            [&form, files] { form.AddVideoFiles(files); }, Qt::QueuedConnection);
    if (qEnvironmentVariableIsSet("CLIPMORA_EXIT_AFTER_FIRST_PAINT"))
        new ExitAfterFirstPaint(&form);
    form.show();
    return application.exec();
}

// Start-up of the main window.
#include "app/main_window.h"

#include "app/user_dialogs.h"

#include <QGuiApplication>
#include <QScreen>

namespace clipmora {

TForm1::TForm1(const QString& programFolder, QWidget* parent)
    : QMainWindow(parent), programFolder_(programFolder)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(730, 500);

    const QString libraryFolder = programFolder_ + QStringLiteral("/Common");
    if (!transcoder_.LoadCodecLibraries(libraryFolder.toStdString(), true)) {
        UserDialogs::current().Information(
            this, QStringLiteral("Some files are missing. Please re-install this software"));
        startupFailed_ = true;
        return;
    }

    setWindowTitle(QStringLiteral("Clipmora"));
    helpFile_ = programFolder_ + QStringLiteral("/help.html");

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

}  // namespace clipmora

// The real dialogs behind the seam.
#include "app/user_dialogs.h"

#include "widgets/folder_browse_dialog.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

namespace clipmora {
namespace {

UserDialogs gRealDialogs;
UserDialogs* gInstalled = nullptr;

// Qt's chooser reads a typed text holding quotes as several names ("a" "b"
// picks two files), so a file whose name holds a quote could not be typed.
// A typed text that names an existing file as a whole is taken as that file.
class VideoFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    QStringList picked() const
    {
        return typedWhole_.isEmpty() ? selectedFiles() : QStringList{typedWhole_};
    }

protected:
    void accept() override
    {
        const auto* typed = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (typed && typed->text().contains(QLatin1Char('"'))) {
            const QFileInfo whole(directory(), typed->text());
            if (whole.isFile()) {
                typedWhole_ = whole.absoluteFilePath();
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    QString typedWhole_;
};

}  // namespace

void UserDialogs::Information(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

QStringList UserDialogs::OpenVideoFiles(QWidget* parent, const QString& filter,
                                        const QString& folder)
{
    VideoFileDialog dialog(parent);
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        dialog.setDirectory(folder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(filter.split(QStringLiteral(";;")));
    dialog.setSizeGripEnabled(true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.picked();
}

bool UserDialogs::ChooseFolder(QWidget* parent, const TFolderBrowseRequest& request,
                               QString& chosen)
{
    return RunFolderChooser(parent, request, chosen);
}

void UserDialogs::ReportException(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Clipmora"), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

void UserDialogs::RunModal(QDialog& dialog) { dialog.exec(); }

bool UserDialogs::OpenDocument(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool UserDialogs::ShowOnDesktop(QWidget* parent, const QString& path, const QUrl& url)
{
    if (OpenDocument(url))
        return true;
    QString reason;
    if (!QFileInfo::exists(path))
        reason = QStringLiteral("it does not exist");
    else if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        reason = QStringLiteral("xdg-open, which hands files to the desktop, is not installed "
                                "(it comes with the xdg-utils package)");
    else
        reason = QStringLiteral("the desktop has no program that opens it");
    Information(parent, QStringLiteral("Cannot open \"%1\": %2.")
                            .arg(QDir::toNativeSeparators(path), reason));
    return false;
}

UserDialogs& UserDialogs::current() { return gInstalled ? *gInstalled : gRealDialogs; }

void UserDialogs::install(UserDialogs* dialogs) { gInstalled = dialogs; }

}  // namespace clipmora

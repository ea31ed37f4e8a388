// The real dialogs behind the seam.
#include "app/user_dialogs.h"

#include "widgets/folder_browse_dialog.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace clipmora {
namespace {

UserDialogs gRealDialogs;
UserDialogs* gInstalled = nullptr;

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
    QFileDialog dialog(parent);
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        dialog.setDirectory(folder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(filter.split(QStringLiteral(";;")));
    dialog.setSizeGripEnabled(true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
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

UserDialogs& UserDialogs::current() { return gInstalled ? *gInstalled : gRealDialogs; }

void UserDialogs::install(UserDialogs* dialogs) { gInstalled = dialogs; }

}  // namespace clipmora

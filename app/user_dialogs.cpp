// The real dialogs behind the seam.
#include "app/user_dialogs.h"

#include <QMessageBox>

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

UserDialogs& UserDialogs::current() { return gInstalled ? *gInstalled : gRealDialogs; }

void UserDialogs::install(UserDialogs* dialogs) { gInstalled = dialogs; }

}  // namespace clipmora

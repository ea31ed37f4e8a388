// The names the application goes by.
#include "app/application_identity.h"

#include <QCoreApplication>
#include <QString>

namespace clipmora {

void NameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Clipmora"));
    QCoreApplication::setOrganizationName(QStringLiteral("Velmar"));
}

}  // namespace clipmora

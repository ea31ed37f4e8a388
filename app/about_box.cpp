// The about box.
#include "app/about_box.h"

#include "app/user_dialogs.h"

#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace clipmora {
namespace {

// A one-line link; the desktop opens it, not the label.
QLabel* addLink(QWidget* parent, const char* name, const char* url, const QString& text)
{
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(QLatin1String(url), text.toHtmlEscaped()),
                            parent);
    link->setObjectName(QLatin1String(name));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setOpenExternalLinks(false);
    QObject::connect(link, &QLabel::linkActivated, parent, [](const QString& target) {
        UserDialogs::current().OpenDocument(QUrl(target));
    });
    return link;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* product = new QLabel(QStringLiteral("Clipmora"), this);
    QFont big = product->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 6);
    product->setFont(big);
    product->setObjectName(QStringLiteral("LabelProduct"));
    auto* version = new QLabel(QStringLiteral("Version 2.0"), this);
    version->setObjectName(QStringLiteral("LabelVersion"));
    QLabel* homePage =
        addLink(this, "LabelHomePage", kHomePage, QStringLiteral("www.clipmora.org"));
    QLabel* support =
        addLink(this, "LabelSupport", kSupportPage, QStringLiteral("Help and support"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    for (QWidget* line : {static_cast<QWidget*>(product), static_cast<QWidget*>(version),
                          static_cast<QWidget*>(homePage), static_cast<QWidget*>(support),
                          static_cast<QWidget*>(ok)})
        layout->addWidget(line, 0, Qt::AlignCenter);
    setFixedSize(280, 200);
}

}  // namespace clipmora

// The about box.
#include "app/about_box.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipmora {

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
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(product, 0, Qt::AlignCenter);
    layout->addWidget(version, 0, Qt::AlignCenter);
    layout->addWidget(ok, 0, Qt::AlignCenter);
    setFixedSize(280, 150);
}

}  // namespace clipmora

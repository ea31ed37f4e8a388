// TAboutBox: the product name and version, shown from the Help menu.
#pragma once

#include <QDialog>

namespace clipmora {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent);
};

}  // namespace clipmora

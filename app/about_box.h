// TAboutBox: the product name and version, shown from the Help menu, with
// links to the product's home page and its help pages. A click on a link
// hands it to the desktop's default handler through UserDialogs.
#pragma once

#include <QDialog>

namespace clipmora {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kHomePage = "https://www.clipmora.org/";
    static constexpr const char* kSupportPage = "https://www.clipmora.org/support/";

    explicit TAboutBox(QWidget* parent);
};

}  // namespace clipmora

// TForm2OptionsForm: the additional-settings dialog. Its two check boxes are
// the overwrite and play-on-add settings themselves. It also owns the stored
// settings: creating it fills the window's quality lists and restores the
// stored values; the window saves them when it closes.
//
// Threads: GUI thread only.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace clipmora {

class TForm1;

class TForm2OptionsForm : public QDialog {
    Q_OBJECT

public:
    // Fills `mainForm`'s quality lists, then LoadSettings().
    explicit TForm2OptionsForm(TForm1* mainForm);

    QCheckBox* CheckBoxOverwrite() const { return checkBoxOverwrite_; }
    QCheckBox* CheckBoxPlayVideoFile() const { return checkBoxPlayVideoFile_; }
    QPushButton* ButtonDone() const { return buttonDone_; }
    bool Overwrite() const;
    bool PlayVideoFile() const;

    // Restores the stored values into the window and this dialog. The first
    // value that is missing or unreadable ends the load, and the current
    // state is saved instead (which stores the defaults on a first run).
    void LoadSettings();
    // Writes the seven values from the current state. Returns false when the
    // store could not be written (the values written so far stay).
    bool SaveSettings();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TForm1* mainForm_;
    QCheckBox* checkBoxOverwrite_ = nullptr;
    QCheckBox* checkBoxPlayVideoFile_ = nullptr;
    QPushButton* buttonDone_ = nullptr;
};

}  // namespace clipmora

// TForm2OptionsForm: the additional-settings dialog. Its check boxes are the
// overwrite, play-on-add, keep-original-streams and exact-cut settings
// themselves. It also owns the stored
// settings: creating it fills the window's quality lists and restores the
// stored values; the window saves them when it closes.
//
// Threads: GUI thread only.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSettings;

namespace clipmora {

class TForm1;

class TForm2OptionsForm : public QDialog {
    Q_OBJECT

public:
    // Fills `mainForm`'s quality lists, then LoadSettings().
    explicit TForm2OptionsForm(TForm1* mainForm);

    QCheckBox* CheckBoxOverwrite() const { return checkBoxOverwrite_; }
    QCheckBox* CheckBoxPlayVideoFile() const { return checkBoxPlayVideoFile_; }
    QCheckBox* CheckBoxKeepOriginalStreams() const { return checkBoxKeepOriginalStreams_; }
    QCheckBox* CheckBoxExactCut() const { return checkBoxExactCut_; }
    QCheckBox* CheckBoxTimelineStrip() const { return checkBoxTimelineStrip_; }
    QPushButton* ButtonDone() const { return buttonDone_; }
    bool Overwrite() const;
    bool PlayVideoFile() const;
    // A split copies the source's streams instead of re-encoding them.
    bool KeepOriginalStreams() const;
    // Such a split holds exactly the marked pictures, re-encoding only those
    // next to the marks; otherwise it starts at a key frame. The check box
    // can be changed only while the streams are kept; it keeps its state
    // while they are not.
    bool ExactCut() const;
    // The strip of pictures and loudness under the timeline is shown (when
    // the window is tall enough for it).
    bool TimelineStrip() const;

    // Restores the stored values into the window and this dialog. The first
    // of the seven original values that is missing or unreadable ends the
    // load, and the current state is saved instead (which stores the
    // defaults on a first run). The keep-original-streams and exact-cut
    // values are read on their own: stores written before they existed lack
    // them, which means off for the first and on for the second. So are the
    // window's size and maximised state, whose absence means the specified
    // size, and so is the timeline strip's, whose absence means on.
    void LoadSettings();
    // Writes the values from the current state. Returns false when the
    // store could not be written (the values written so far stay).
    bool SaveSettings();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void restoreWindowPlacement(const QSettings& store);

    TForm1* mainForm_;
    QCheckBox* checkBoxOverwrite_ = nullptr;
    QCheckBox* checkBoxPlayVideoFile_ = nullptr;
    QCheckBox* checkBoxKeepOriginalStreams_ = nullptr;
    QCheckBox* checkBoxExactCut_ = nullptr;
    QCheckBox* checkBoxTimelineStrip_ = nullptr;
    QPushButton* buttonDone_ = nullptr;
};

}  // namespace clipmora

// The additional-settings dialog.
#include "app/options_dialog.h"

#include "app/main_window.h"

#include <QCheckBox>
#include <QPushButton>

#include <algorithm>

namespace clipmora {

TForm2OptionsForm::TForm2OptionsForm(TForm1* mainForm)
    : QDialog(mainForm, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      mainForm_(mainForm)
{
    setObjectName(QStringLiteral("Form2OptionsForm"));
    setWindowTitle(QStringLiteral("Additional Options"));
    setModal(true);

    checkBoxOverwrite_ =
        new QCheckBox(QStringLiteral("Overwrite Existing File With The Same Name"), this);
    checkBoxOverwrite_->setGeometry(24, 32, 310, 22);
    checkBoxOverwrite_->setChecked(false);
    // "Immediatedly" is the program's established label; users and the
    // help file know the option by it.
    checkBoxPlayVideoFile_ =
        new QCheckBox(QStringLiteral("Play Video File Immediatedly Once Added"), this);
    checkBoxPlayVideoFile_->setGeometry(24, 72, 310, 22);
    checkBoxPlayVideoFile_->setChecked(true);
    checkBoxKeepOriginalStreams_ =
        new QCheckBox(QStringLiteral("Keep Original Streams (fast, no re-encoding)"), this);
    checkBoxKeepOriginalStreams_->setGeometry(24, 112, 310, 22);
    checkBoxKeepOriginalStreams_->setChecked(false);
    // A choice within the kept-streams split, indented under it.
    checkBoxExactCut_ = new QCheckBox(
        QStringLiteral("Exact to the Frame (re-encodes only next to the marks)"), this);
    // Its caption is the longest: the dialog grows with it in a wider font.
    const int exactWidth = std::max(340, checkBoxExactCut_->sizeHint().width());
    checkBoxExactCut_->setGeometry(44, 140, exactWidth, 22);
    checkBoxExactCut_->setChecked(true);
    checkBoxExactCut_->setEnabled(false);
    connect(checkBoxKeepOriginalStreams_, &QCheckBox::toggled, checkBoxExactCut_,
            &QCheckBox::setEnabled);
    checkBoxTimelineStrip_ =
        new QCheckBox(QStringLiteral("Show Pictures and Loudness Under the Timeline"), this);
    checkBoxTimelineStrip_->setObjectName(QStringLiteral("CheckBoxTimelineStrip"));
    checkBoxTimelineStrip_->setGeometry(24, 168, std::max(310, checkBoxTimelineStrip_->sizeHint().width()), 22);
    checkBoxTimelineStrip_->setChecked(true);
    buttonDone_ = new QPushButton(QStringLiteral("Done"), this);
    const int width = std::max(398, 44 + exactWidth + 24);
    setFixedSize(width, 256);
    buttonDone_->setGeometry((width - 80) / 2, 200, 80, 28);
    connect(buttonDone_, &QPushButton::clicked, this, &QDialog::accept);

    FillQualityLists(mainForm_->Profile());
    mainForm_->RefreshProfileCombos();
    LoadSettings();
    connect(checkBoxKeepOriginalStreams_, &QCheckBox::toggled, mainForm_,
            &TForm1::ApplyKeepStreamsChoice);
    connect(checkBoxTimelineStrip_, &QCheckBox::toggled, mainForm_,
            &TForm1::ApplyTimelineStripChoice);
}

bool TForm2OptionsForm::Overwrite() const { return checkBoxOverwrite_->isChecked(); }

bool TForm2OptionsForm::PlayVideoFile() const { return checkBoxPlayVideoFile_->isChecked(); }

bool TForm2OptionsForm::KeepOriginalStreams() const
{
    return checkBoxKeepOriginalStreams_->isChecked();
}

bool TForm2OptionsForm::ExactCut() const { return checkBoxExactCut_->isChecked(); }

bool TForm2OptionsForm::TimelineStrip() const { return checkBoxTimelineStrip_->isChecked(); }

void TForm2OptionsForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    move(mainForm_->geometry().center() - rect().center());
}

}  // namespace clipmora

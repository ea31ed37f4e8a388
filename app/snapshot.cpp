// Snapshots: the picture on screen saved as a bitmap file in the output
// folder, named after the video, with a shutter sound.
#include "app/main_window.h"

#include "app/file_names.h"
#include "job/split_job.h"
#include "app/user_dialogs.h"
#include "preview/sample_grabber.h"
#include "preview/wav_player.h"

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLineEdit>
#include <QPushButton>

namespace clipmora {

void TForm1::SnapshotClick()
{
    if (splitBusy_ || !filterGraph1_.Active())
        return;
    if (!checkOutputFolder())
        return;
    // Without a new picture the last one taken is saved again; with neither
    // (a file without pictures) the preview is left as it was.
    QImage frame;
    const bool shown = sampleGrabber1_->CopyFrameToBitmap(&frame);
    if (!shown && image1_.isNull()) {
        UserDialogs::current().ReportException(
            this, QStringLiteral("There is no picture to save yet: the preview has not shown one."));
        return;
    }
    guardPreview([this] { filterGraph1_.Pause(); });
    // The picture the pause holds on screen, else the one seen before it.
    if (sampleGrabber1_->CopyFrameToBitmap(&frame) || shown)
        image1_ = frame;
    const QImage picture = image1_;

    const QString named = editOutputFolder_->text() + QLatin1Char('/') +
                          QFileInfo(ReadableName(editVideoFilename_->text())).fileName();
    const QString path =
        QString::fromStdString(MakeUniqueFileName(named.toStdString(), ".bmp"));
    QFile file(path);
    QImageWriter writer(&file, "bmp");
    if (!file.open(QIODevice::WriteOnly) || !writer.write(picture)) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                                    : writer.errorString();
        file.close();
        if (file.exists() && file.size() == 0)
            file.remove();
        // The preview stays paused on the picture that could not be saved.
        UserDialogs::current().ReportException(
            this, QStringLiteral("Cannot save the snapshot \"%1\": %2").arg(path, reason));
        return;
    }
    file.close();
    lastSnapshotFile_ = path;
    PlaySnapSound();
    // Playback goes on, also when the preview had been paused before.
    guardPreview([this] { filterGraph1_.Play(); });
}

void TForm1::PlaySnapSound()
{
    QFile sound(QStringLiteral(":/sounds/Snap.wav"));
    if (sound.open(QIODevice::ReadOnly))
        PlayWavSynchronously(sound.readAll());
}

}  // namespace clipmora

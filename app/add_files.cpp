// Adding video files: the open-file dialog, files dropped on the window or
// named on the command line, the probe's checks of each file, and the
// source's frame rate and length for the marks and the timeline. Every way in
// takes the same path as a pick in the dialog.
#include "app/main_window.h"

#include "app/file_names.h"
#include "app/options_dialog.h"
#include "job/segment_marks.h"
#include "job/split_job.h"
#include "app/user_dialogs.h"
#include "widgets/hl_track_bar.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaObject>
#include <QMimeData>
#include <QUrl>

#include <exception>
#include <limits>
#include <vector>

namespace clipmora {
namespace {

// Pairs of description and patterns, separated by "|": the program's
// established entries first.
constexpr const char* kOpenDialogFilter =
    "All Supported Files|*.avi;*.mpeg;*.mpg;*.wmv;*.mov; *.qt;*.mp4;*.rm;*.rmvb; *.flv|"
    "AVI Files (*.avi)|*.avi|Flash Files (*.flv)|*.flv|"
    "MPEG Files (*.mpeg, *.mpg)|*.mpeg;*.mpg|MPEG-4 Files (*.mp4)|*.mp4|"
    "RealMedia Files (*.rm, *.rmvb)|*.rm; *.rmvb|QuickTime Files (*.mov, *.qt)|*.mov; *.qt|"
    "Windows Media Files(*.wmv)|*.wmv|";

// Every other kind of file the program opens (those its menu entry declares,
// and sound-only MP3), each with an entry of its own; "All Supported Files"
// takes their patterns too, and "All files" comes last.
constexpr const char* kMoreOpenDialogFilter =
    "Matroska Files|*.mkv|WebM Files|*.webm|MPEG Transport Streams|*.ts;*.m2ts;*.mts|"
    "MPEG-4 Video Files|*.m4v|Advanced Systems Format Files|*.asf|3GPP Files|*.3gp;*.3g2|"
    "Ogg Files|*.ogv;*.ogg;*.ogm|DV Files|*.dv|MP3 Audio Files|*.mp3|";

struct FilterEntry {
    QString description;
    QStringList patterns;
};

std::vector<FilterEntry> filterEntries(const char* filter)
{
    const QStringList parts = QString::fromLatin1(filter).split(QLatin1Char('|'));
    std::vector<FilterEntry> entries;
    for (int index = 0; index + 1 < parts.size(); index += 2) {
        QStringList patterns = parts[index + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            pattern = pattern.trimmed();
        entries.push_back({parts[index], patterns});
    }
    return entries;
}

// The local files a drag carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        files << NameFromUrl(url);
    }
    return files;
}

}  // namespace

QStringList VideoFilesFromArguments(const QStringList& arguments)
{
    QStringList files;
    for (const QString& argument : arguments) {
        // Options the toolkit did not take are not files ("./-name" is).
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
            continue;
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? NameFromUrl(url) : argument;
        files << QFileInfo(path).absoluteFilePath();
    }
    return files;
}

QString TForm1::OpenDialogFilter()
{
    std::vector<FilterEntry> entries = filterEntries(kOpenDialogFilter);
    const std::vector<FilterEntry> more = filterEntries(kMoreOpenDialogFilter);
    for (const FilterEntry& entry : more)
        entries.front().patterns << entry.patterns;
    entries.insert(entries.end(), more.begin(), more.end());
    entries.push_back({QStringLiteral("All files"), {QStringLiteral("*")}});
    // Qt's chooser takes "Description (patterns)" entries joined by ";;".
    QStringList filters;
    for (const FilterEntry& entry : entries)
        filters << entry.description + QStringLiteral(" (") +
                       entry.patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    return filters.join(QStringLiteral(";;"));
}

void TForm1::AddFileClick() { addVideoFiles(nullptr); }

void TForm1::AddVideoFiles(const QStringList& files) { addVideoFiles(&files); }

// `given` is null for a pick in the open-file dialog. A cancelled dialog (or
// an empty list) changes nothing: the marks, the lists and a playing preview
// stay as they were.
void TForm1::addVideoFiles(const QStringList* given)
{
    if (splitBusy_ || !startupFinished())
        return;
    const QStringList files =
        given ? *given
              : UserDialogs::current().OpenVideoFiles(this, OpenDialogFilter(), lastVideoFolder_);
    if (files.isEmpty())
        return;
    FormatChangeStep(profile_);
    RefreshProfileCombos();
    resetMarks();
    OpenVideoFiles(files);
    if (!editVideoFilename_->text().trimmed().isEmpty() && optionsForm_ &&
        optionsForm_->PlayVideoFile())
        PlayClick();
}

void TForm1::OpenVideoFiles(const QStringList& files)
{
    if (files.isEmpty())
        return;
    // The preview and the strip let go of the old file before a new one is
    // looked at.
    stopPreviewGraph();
    stopStripBuild(true);
    showPlaybackProblem(QString());
    clearSplitReadouts();
    TAVProbe& probe = transcoder_.Probe();
    for (const QString& file : files) {
        if (const auto refusal = SourceFileRefusal(NameBytes(file))) {
            UserDialogs::current().Information(
                this, QStringLiteral("Cannot Split this File. ") + QString::fromStdString(*refusal));
            editVideoFilename_->clear();
            break;
        }
        bool opened = false;
        try {
            opened = probe.OpenMedia(NameBytes(file));
        } catch (const std::exception&) {
            opened = false;
        }
        if (!opened) {
            // The program's established text: "this File." here, unlike the
            // end-of-split "Cannot Split This File".
            UserDialogs::current().Information(this, QStringLiteral("Cannot Split this File."));
            editVideoFilename_->clear();
            break;
        }
        editVideoFilename_->setText(file);
        if (editVideoFilename_->text().trimmed().isEmpty())
            break;

        const bool hasVideo = probe.VideoStreamCount() != 0;
        const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
        sourceFrameRate_ = QString::fromStdString(
            SourceFrameRateText(video.FrameRateNum, video.FrameRateDen, hasVideo));

        const int64_t durationUs = probe.ReadFileInfo().Duration;
        const int64_t durationMs = durationUs / 1000;
        hlTrackBar1_->SetMax(durationMs > std::numeric_limits<int>::max()
                                 ? std::numeric_limits<int>::max()
                                 : static_cast<int>(durationMs < 0 ? 0 : durationMs));
        const std::string durationText =
            FormatDuration(static_cast<double>(durationUs / 1000000), ":");
        probe.CloseMedia();
        if (durationText == "Unknown" || durationText == "00:00:00" || durationUs < 0) {
            UserDialogs::current().Information(
                this, QStringLiteral("Cannot Split this File. The file duration cannot be read"));
            editVideoFilename_->clear();
            break;
        }
        previewFile_ = file;
        lastVideoFolder_ = QFileInfo(file).absolutePath();
        stripFile_ = file;
        followTimelineView();
        QCoreApplication::processEvents();
    }
}


void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!splitBusy_ && !droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const QStringList files = droppedFiles(event->mimeData());
    if (splitBusy_ || files.isEmpty())
        return;
    event->acceptProposedAction();
    // The program the files came from waits until the drop returns; the
    // probe and its messages run after that.
    QMetaObject::invokeMethod(
        this, [this, files] { AddVideoFiles(files); }, Qt::QueuedConnection);
}

}  // namespace clipmora

// Reaching into the main window from the tests and the soak bench: controls
// by their object names, and what the window keeps without showing it
// through TForm1Probe.
#pragma once

#include "app/main_window.h"
#include "widgets/hl_track_bar.h"

#include <QObject>
#include <QString>

#include <stdexcept>

namespace clipmora {

// The window's state that no control shows: the engine, the preview graph,
// whether a split runs, the marks' frame numbers...
class TForm1Probe {
public:
    explicit TForm1Probe(TForm1& form) : form_(form) {}

    TTranscoder& Transcoder1() const { return form_.transcoder_; }
    TFilterGraph& FilterGraph1() const { return form_.filterGraph1_; }
    const QString& HelpFile() const { return form_.helpFile_; }
    // The last picture a snapshot took (empty before the first).
    const QImage& Image1() const { return form_.image1_; }
    bool SplitBusy() const { return form_.splitBusy_; }
    int OutputVolume() const { return form_.outputVolume_; }
    const QString& SourceFrameRate() const { return form_.sourceFrameRate_; }
    bool PreviewPaused() const { return form_.previewPaused_; }
    // The file the preview plays.
    const QString& PreviewFile() const { return form_.previewFile_; }
    // The engine's log lines of the current split.
    const QStringList& ScriptBuffer() const { return form_.scriptBuffer_; }
    // The number of the current split; progress and end reports carry it.
    int SplitSerial() const { return form_.splitSerial_.load(); }
    // The output file of the last split that started.
    const QString& LastOutputFile() const { return form_.lastOutputFile_; }
    // The marks' frame numbers; a test may set them as marking would.
    double& StartFrame() const { return form_.StartFrame; }
    double& EndFrame() const { return form_.EndFrame; }
    // The timeline's maximum and position in milliseconds.
    int TimelineMax() const { return form_.hlTrackBar1_->Max(); }
    int TimelinePosition() const { return form_.hlTrackBar1_->Position(); }

private:
    TForm1& form_;
};

// The child of `parent` of type T named `name`. Throws when there is none, so
// the test that asks fails with the name.
template <typename T>
T* Find(const QObject& parent, const char* name)
{
    T* found = parent.findChild<T*>(QLatin1String(name));
    if (!found)
        throw std::logic_error(std::string("no control named ") + name);
    return found;
}

}  // namespace clipmora

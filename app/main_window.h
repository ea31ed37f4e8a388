// TForm1: the main window. Its creation is the program's start-up: it binds
// the codec libraries from "Common" beside the program and refuses to go on
// without them.
#pragma once

#include "engine/transcoder.h"

#include <QMainWindow>
#include <QString>

namespace clipmora {

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // `programFolder` is where the program and its "Common" folder live.
    explicit TForm1(const QString& programFolder, QWidget* parent = nullptr);

    // True when start-up could not bind the codec libraries; the message has
    // been shown and the application must end.
    bool StartupFailed() const { return startupFailed_; }

    TTranscoder& Transcoder1() { return transcoder_; }
    const QString& HelpFile() const { return helpFile_; }

private:
    TTranscoder transcoder_;
    QString programFolder_;
    QString helpFile_;
    bool startupFailed_ = false;
};

}  // namespace clipmora

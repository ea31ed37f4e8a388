// What the benchmarks that drive the main window share: dialogs that answer
// themselves, and a private settings folder.
#pragma once

#include "app/user_dialogs.h"
#include "bench/bench_support.h"
#include "widgets/folder_browse_dialog.h"

#include <QSettings>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <filesystem>

namespace clipmora::bench {

// Answers the window's dialogs: the next file to add, the output folder
// (none chosen while it is empty); messages are counted and the last kept,
// reported errors printed.
class BenchDialogs : public UserDialogs {
public:
    void Information(QWidget*, const QString& text) override
    {
        ++messages;
        lastMessage = text;
    }
    QStringList OpenVideoFiles(QWidget*, const QString&, const QString&) override
    {
        return {nextFile};
    }
    bool ChooseFolder(QWidget*, const TFolderBrowseRequest&, QString& chosen) override
    {
        chosen = outputFolder;
        return !outputFolder.isEmpty();
    }
    void RunModal(QDialog&) override {}
    void ReportException(QWidget*, const QString& text) override
    {
        std::fprintf(stderr, "reported: %s\n", text.toUtf8().constData());
    }
    bool OpenDocument(const QUrl&) override { return true; }

    QString nextFile;
    QString outputFolder;
    int messages = 0;
    QString lastMessage;
};

// A window bench's surroundings for its run: a fresh work folder `name`
// under the bench folder, whose "settings" folder takes the window's
// settings, and the bench's dialogs installed. Both go when it does, also
// when the bench fails.
class WindowBenchSession {
public:
    explicit WindowBenchSession(const char* name) : work_(BenchFolder() / name)
    {
        std::filesystem::remove_all(work_);
        std::filesystem::create_directories(work_ / "settings");
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString((work_ / "settings").string()));
        UserDialogs::install(&dialogs);
    }
    ~WindowBenchSession()
    {
        UserDialogs::install(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(work_, ignored);
    }
    WindowBenchSession(const WindowBenchSession&) = delete;
    WindowBenchSession& operator=(const WindowBenchSession&) = delete;

    const std::filesystem::path& Work() const { return work_; }

    BenchDialogs dialogs;

private:
    std::filesystem::path work_;
};

}  // namespace clipmora::bench

// The main window under test: dialogs answered from a script, settings in a
// private folder, and helpers to drive the window through its controls.
#pragma once

#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/user_dialogs.h"
#include "engine/codec_libraries.h"
#include "tests/support/main_window_probe.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"
#include "widgets/folder_browse_dialog.h"

#include <gtest/gtest.h>

#include "tests/support/qt_application.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QList>
#include <QPushButton>
#include <QSettings>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>

namespace clipmora::testing {

namespace fs = std::filesystem;

// Answers every dialog of the window from a script and records what was asked.
class ScriptedDialogs : public UserDialogs {
public:
    void Information(QWidget*, const QString& text) override
    {
        messages << text;
        if (onInformation)
            onInformation(text);
    }
    QStringList OpenVideoFiles(QWidget*, const QString&, const QString& folder) override
    {
        openDialogFolders << folder;
        return filesToPick;
    }
    bool ChooseFolder(QWidget*, const TFolderBrowseRequest& request, QString& chosen) override
    {
        ++folderChooserRuns;
        lastFolderRequest = request;
        if (folderToChoose.isEmpty())
            return false;
        chosen = folderToChoose;
        return true;
    }
    void RunModal(QDialog& dialog) override { modalRuns << dialog.windowTitle(); }
    void ReportException(QWidget*, const QString& text) override { exceptions << text; }
    bool OpenDocument(const QUrl& url) override
    {
        openedDocuments << url;
        return desktopOpens;
    }

    QStringList messages;
    // Runs while the message box would be open.
    std::function<void(const QString& text)> onInformation;
    QStringList filesToPick;
    // The folder each run of the open-file dialog opened in.
    QStringList openDialogFolders;
    QString folderToChoose;
    int folderChooserRuns = 0;
    TFolderBrowseRequest lastFolderRequest;
    QStringList modalRuns;
    QStringList exceptions;
    QList<QUrl> openedDocuments;
    bool desktopOpens = true;  // whether the desktop takes what it is handed
};

inline MediaSpec shortClip()
{
    MediaSpec spec = Mp4H264Aac();
    spec.seconds = 2.0;
    return spec;
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureApplication();
        settingsFolder_ = new TempFolder;
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(settingsFolder_->path().string()));
    }
    static void TearDownTestSuite()
    {
        delete settingsFolder_;
        settingsFolder_ = nullptr;
    }
    void SetUp() override
    {
        fs::remove_all(settingsFolder_->path() / "Velmar");
        UserDialogs::install(&dialogs);
        BindLibrariesForTests();
    }
    void TearDown() override { UserDialogs::install(nullptr); }

    static QSettings store()
    {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Velmar"),
                         QStringLiteral("Clipmora"));
    }

    std::unique_ptr<TForm1> openWindow()
    {
        auto form = std::make_unique<TForm1>(QStringLiteral(CLIPMORA_BIN_DIR));
        EXPECT_FALSE(form->StartupFailed());
        form->show();
        return form;
    }

    // Spins the event loop until `done` holds; false after `seconds`.
    static bool waitFor(const std::function<bool()>& done, int seconds = 60)
    {
        return WaitUntil(done, seconds * 1000);
    }

    // Opens the window, lets `change` set it up and closes it, which stores
    // the settings.
    void storeFrom(const std::function<void(TForm1&)>& change)
    {
        auto form = openWindow();
        change(*form);
        EXPECT_TRUE(form->close());
    }

    void addFile(TForm1& form, const std::string& path)
    {
        dialogs.filesToPick = {QString::fromStdString(path)};
        Find<QPushButton>(form, "ButtonAddFile")->click();
    }

    void chooseFolder(TForm1& form, const fs::path& folder)
    {
        dialogs.folderToChoose = QString::fromStdString(folder.string());
        Find<QPushButton>(form, "ButtonBrowseForFolder")->click();
    }

    static void chooseFormat(TForm1& form, const QString& name)
    {
        const int index = Find<QComboBox>(form, "ComboOutputFormat")->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        Find<QComboBox>(form, "ComboOutputFormat")->setCurrentIndex(index);
    }

    // Starts a split and waits for its one end message.
    QString splitAndWait(TForm1& form)
    {
        const qsizetype before = dialogs.messages.size();
        Find<QPushButton>(form, "ButtonSplit")->click();
        EXPECT_TRUE(waitFor(
            [&] { return dialogs.messages.size() > before && !TForm1Probe(form).SplitBusy(); }));
        return dialogs.messages.size() > before ? dialogs.messages.last() : QString();
    }

    inline static TempFolder* settingsFolder_ = nullptr;
    ScriptedDialogs dialogs;
};

}  // namespace clipmora::testing

// FolderChooserDialog: the folder picker's window, Qt's own (non-native)
// directory dialog with what a TFolderBrowseRequest asks for:
//   - the caption Title and a headline above the folders;
//   - with boStatusText a status line under the headline;
//   - with boShowHelp a "&Help" button (disabled while HelpContext is 0), and
//     without boContextHelp F1, both raising HelpRequested;
//   - SelectionChanged each time the folder that OK would choose changes, its
//     status text shown and its OK decision applied at once;
//   - a RootFolder the user cannot leave: the side bar offers only it, a walk
//     above it returns to it, and OK never takes a folder outside it;
//   - Initialised once the window exists, Closing when it closes.
// It runs modally (exec, as RunFolderChooser does) or open (show), so tests
// can drive it.
//
// Threads: GUI thread only.
#pragma once

#include "widgets/folder_browse_dialog.h"

#include <QFileDialog>
#include <QString>

#include <optional>

class QLabel;
class QPushButton;

namespace clipmora {

class FolderChooserDialog : public QFileDialog {
    Q_OBJECT

public:
    FolderChooserDialog(QWidget* parent, const TFolderBrowseRequest& request);

    // The folder OK would choose now: the selected one, else the one shown.
    QString CurrentFolder() const;

    QLabel* HeadlineLabel() const { return headline_; }
    QLabel* StatusLine() const { return statusLine_; }
    QPushButton* OkButton() const { return okButton_; }
    // Null without boShowHelp.
    QPushButton* HelpButton() const { return helpButton_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void accept() override;
    void done(int result) override;

private:
    void addHeadlineAndStatusLine();
    void addHelpButton();
    void requestHelp();
    // Looks at the selection once the dialog has finished its own update.
    void selectionMayHaveChanged();
    void reportSelection();
    void keepInsideRoot(const QString& directory);
    void setOkEnabled(bool enabled);

    TFolderBrowseRequest request_;
    QLabel* headline_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    bool initialised_ = false;
    bool closed_ = false;
    bool checkQueued_ = false;
    QString reportedFolder_;
    bool reportedOnce_ = false;
    // The OK state the directory dialog itself gives the button, and the one
    // the last selection handler imposed instead (until the next selection).
    bool dialogOkEnabled_ = true;
    std::optional<bool> imposedOkEnabled_;
    bool imposing_ = false;
};

}  // namespace clipmora

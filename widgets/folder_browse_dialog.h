// TFolderBrowseDialog: a non-visual component that runs a folder chooser and
// returns the chosen folder. It keeps the last choice in FolderName, so the
// next run opens there. The chooser is FolderChooserDialog
// (folder_chooser_dialog.h), Qt's own directory dialog, which raises the
// component's window events while it is open; the owner may replace the
// chooser (the main window routes it through its dialog seam).
//
// Threads: GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <stdexcept>
#include <string>

class QFileDialog;
class QWidget;

namespace clipmora {

// Raised for a root folder identifier that is not a special folder, or one
// this system has no folder for.
class EFolderBrowseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TFolderBrowseDlgOption : unsigned {
    boShowHelp = 1,      // add a help button
    boContextHelp = 2,   // keep the title bar's context-help button
    boStatusText = 4,    // status line under the headline
    boDirsOnly = 8,      // only file-system folders can be chosen
    boNewDlgStyle = 16,  // the resizable new-style dialog
};
using TFolderBrowseDlgOptions = unsigned;  // a set of TFolderBrowseDlgOption bits

// One special folder: its identifier and name as the shell numbers them.
struct TSpecialFolder {
    int Id;
    const char* Name;
};

// The 58 special folders a root may be.
const TSpecialFolder* SpecialFolders();
int SpecialFolderCount();
// The folder of special folder `id` on this system; empty when it has none.
// Identifier 0 (the desktop, the tree's top) gives the file-system root.
QString SpecialFolderPath(int id);

// True when `path` is `folder` or lies below it (both cleaned first; an
// empty `folder` holds everything).
bool IsInsideFolder(const QString& path, const QString& folder);
// The name a folder is shown by: its last path component, or the whole path
// (native separators) for a file-system root.
QString FolderDisplayName(const QString& path);

// What one run of the chooser is asked to show, and whom it tells what
// happens while its window is open.
struct TFolderBrowseRequest {
    QString Title;         // window caption, when not empty
    QString Headline;      // text above the folder tree
    QString RootFolder;    // empty: the whole tree; else the folder that cannot be left
    QString FolderName;    // selected when the chooser opens, when not empty
    TFolderBrowseDlgOptions Options = 0;
    int HelpContext = 0;

    // The window exists and has been set up; raised once, before it shows.
    std::function<void(QFileDialog& window)> Initialised;
    // The folder that OK would choose changed (also once for the first one).
    // `statusText` arrives empty and `okEnabled` as the OK button is; what
    // the handler leaves in them goes to the status line and the OK button.
    std::function<void(const QString& folder, const QString& displayName, QString& statusText,
                       bool& okEnabled)>
        SelectionChanged;
    // The user asked for help (Help button, or F1 without boContextHelp) with
    // a HelpContext other than 0.
    std::function<void(int helpContext)> HelpRequested;
    // The window is closing (chosen, cancelled or closed).
    std::function<void()> Closing;
};

// Runs FolderChooserDialog for `request` modally. True with `chosen` set on OK.
bool RunFolderChooser(QWidget* parent, const TFolderBrowseRequest& request, QString& chosen);

class TFolderBrowseDialog : public QObject {
    Q_OBJECT

public:
    using TChooser =
        std::function<bool(QWidget* parent, const TFolderBrowseRequest&, QString& chosen)>;
    using TNotifyEvent = std::function<void(TFolderBrowseDialog* Sender)>;
    using TFolderBrowseSelChangeEvent =
        std::function<void(TFolderBrowseDialog* Sender, const QString& FolderName,
                           const QString& DisplayName, QString& StatusText, bool& OKEnabled)>;

    // `owner` parents the component and, when it is a widget, the chooser.
    explicit TFolderBrowseDialog(QObject* owner = nullptr);

    QString Title;
    QString FolderName;
    QString Headline;
    int HelpContext = 0;
    // Raised by the dialog window while it is open (a chooser that answers
    // without a window raises none of them).
    TNotifyEvent OnInitialise;
    TFolderBrowseSelChangeEvent OnSelChange;
    TNotifyEvent OnClose;
    // Shows help topic `HelpContext`; the owner provides it. Called for the
    // Help button and F1 when HelpContext is not 0.
    std::function<void(int HelpContext)> ShowHelpTopic;

    int RootFolderID() const { return rootFolderId_; }
    // Throws EFolderBrowseError("Invalid special folder ID") for an
    // identifier that is not a special folder; nothing changes then.
    void SetRootFolderID(int id);

    TFolderBrowseDlgOptions Options() const { return options_; }
    // Newly adding boNewDlgStyle drops boShowHelp and boStatusText; otherwise
    // newly adding either of those drops boNewDlgStyle.
    void SetOptions(TFolderBrowseDlgOptions options);

    // The chosen folder's display name (its last path component; the path
    // itself for a root).
    const QString& DisplayName() const { return displayName_; }

    // Replaces the chooser (null restores FolderChooserDialog).
    void SetChooser(TChooser chooser) { chooser_ = std::move(chooser); }

    // The dialog window while it is open (from OnInitialise to OnClose);
    // null otherwise.
    QFileDialog* Window() const;

    // Runs the chooser modally. True when a folder was chosen: FolderName and
    // DisplayName then hold it; otherwise both keep their values. A folder
    // outside the root (or, with boDirsOnly, one that is not a directory) is
    // never taken. Throws EFolderBrowseError("Root folder not supported on
    // this system") when the root has no folder here.
    bool Execute();

private:
    int rootFolderId_ = 0;
    TFolderBrowseDlgOptions options_ = boContextHelp | boDirsOnly;
    QString displayName_;
    TChooser chooser_;
    QPointer<QFileDialog> window_;
};

}  // namespace clipmora

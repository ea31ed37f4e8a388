// TFolderBrowseDialog: a non-visual component that runs a folder chooser and
// returns the chosen folder. It keeps the last choice in FolderName, so the
// next run opens there. The chooser itself is Qt's directory dialog; the
// owner may replace it (the main window routes it through its dialog seam).
//
// Threads: GUI thread only.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <stdexcept>
#include <string>

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

// What one run of the chooser is asked to show.
struct TFolderBrowseRequest {
    QString Title;         // window caption, when not empty
    QString Headline;      // text above the folder tree
    QString RootFolder;    // empty: the whole tree
    QString FolderName;    // selected when the chooser opens, when not empty
    TFolderBrowseDlgOptions Options = 0;
    int HelpContext = 0;
};

// The chooser over Qt's directory dialog. True with `chosen` set on OK.
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
    TNotifyEvent OnInitialise;
    TFolderBrowseSelChangeEvent OnSelChange;
    TNotifyEvent OnClose;

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

    // Replaces the chooser (null restores Qt's directory dialog).
    void SetChooser(TChooser chooser) { chooser_ = std::move(chooser); }

    // Runs the chooser modally. True when a folder was chosen: FolderName and
    // DisplayName then hold it; otherwise both keep their values. Throws
    // EFolderBrowseError("Root folder not supported on this system") when the
    // root has no folder here.
    bool Execute();

private:
    int rootFolderId_ = 0;
    TFolderBrowseDlgOptions options_ = boContextHelp | boDirsOnly;
    QString displayName_;
    TChooser chooser_;
};

}  // namespace clipmora

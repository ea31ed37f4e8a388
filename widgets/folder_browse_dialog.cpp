// The folder chooser component and its special-folder table.
#include "widgets/folder_browse_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include <iterator>

namespace clipmora {
namespace {

constexpr TSpecialFolder kSpecialFolders[] = {
    {0x0030, "CSIDL_ADMINTOOLS"},
    {0x001d, "CSIDL_ALTSTARTUP"},
    {0x001a, "CSIDL_APPDATA"},
    {0x000a, "CSIDL_BITBUCKET"},
    {0x003b, "CSIDL_CDBURN_AREA"},
    {0x002f, "CSIDL_COMMON_ADMINTOOLS"},
    {0x001e, "CSIDL_COMMON_ALTSTARTUP"},
    {0x0023, "CSIDL_COMMON_APPDATA"},
    {0x0019, "CSIDL_COMMON_DESKTOPDIRECTORY"},
    {0x002e, "CSIDL_COMMON_DOCUMENTS"},
    {0x001f, "CSIDL_COMMON_FAVORITES"},
    {0x0035, "CSIDL_COMMON_MUSIC"},
    {0x0036, "CSIDL_COMMON_PICTURES"},
    {0x0017, "CSIDL_COMMON_PROGRAMS"},
    {0x0016, "CSIDL_COMMON_STARTMENU"},
    {0x0018, "CSIDL_COMMON_STARTUP"},
    {0x002d, "CSIDL_COMMON_TEMPLATES"},
    {0x0037, "CSIDL_COMMON_VIDEO"},
    {0x003d, "CSIDL_COMPUTERSNEARME"},
    {0x0031, "CSIDL_CONNECTIONS"},
    {0x0003, "CSIDL_CONTROLS"},
    {0x0021, "CSIDL_COOKIES"},
    {0x0000, "CSIDL_DESKTOP"},
    {0x0010, "CSIDL_DESKTOPDIRECTORY"},
    {0x0011, "CSIDL_DRIVES"},
    {0x0006, "CSIDL_FAVORITES"},
    {0x0014, "CSIDL_FONTS"},
    {0x0022, "CSIDL_HISTORY"},
    {0x0001, "CSIDL_INTERNET"},
    {0x0020, "CSIDL_INTERNET_CACHE"},
    {0x001c, "CSIDL_LOCAL_APPDATA"},
    {0x000c, "CSIDL_MYDOCUMENTS"},
    {0x000d, "CSIDL_MYMUSIC"},
    {0x0027, "CSIDL_MYPICTURES"},
    {0x000e, "CSIDL_MYVIDEO"},
    {0x0013, "CSIDL_NETHOOD"},
    {0x0012, "CSIDL_NETWORK"},
    {0x0005, "CSIDL_PERSONAL"},
    {0x0045, "CSIDL_PHOTOALBUMS"},
    {0x003f, "CSIDL_PLAYLISTS"},
    {0x0004, "CSIDL_PRINTERS"},
    {0x001b, "CSIDL_PRINTHOOD"},
    {0x0028, "CSIDL_PROFILE"},
    {0x003e, "CSIDL_PROFILES"},
    {0x0026, "CSIDL_PROGRAM_FILES"},
    {0x002b, "CSIDL_PROGRAM_FILES_COMMON"},
    {0x0002, "CSIDL_PROGRAMS"},
    {0x0008, "CSIDL_RECENT"},
    {0x0040, "CSIDL_SAMPLE_MUSIC"},
    {0x0041, "CSIDL_SAMPLE_PLAYLISTS"},
    {0x0042, "CSIDL_SAMPLE_PICTURES"},
    {0x0043, "CSIDL_SAMPLE_VIDEOS"},
    {0x0009, "CSIDL_SENDTO"},
    {0x000b, "CSIDL_STARTMENU"},
    {0x0007, "CSIDL_STARTUP"},
    {0x0025, "CSIDL_SYSTEM"},
    {0x0015, "CSIDL_TEMPLATES"},
    {0x0024, "CSIDL_WINDOWS"},
};
static_assert(std::size(kSpecialFolders) == 58);

// Special folders with a counterpart among the desktop's standard locations.
struct StandardFolder {
    int id;
    QStandardPaths::StandardLocation location;
};
constexpr StandardFolder kStandardFolders[] = {
    {0x0010, QStandardPaths::DesktopLocation},        // desktop directory
    {0x0005, QStandardPaths::DocumentsLocation},      // personal
    {0x000c, QStandardPaths::DocumentsLocation},      // my documents
    {0x000d, QStandardPaths::MusicLocation},
    {0x0027, QStandardPaths::PicturesLocation},
    {0x000e, QStandardPaths::MoviesLocation},
    {0x0028, QStandardPaths::HomeLocation},           // profile
    {0x001a, QStandardPaths::GenericConfigLocation},  // roaming application data
    {0x001c, QStandardPaths::GenericDataLocation},    // local application data
    {0x0020, QStandardPaths::GenericCacheLocation},   // internet cache
    {0x0014, QStandardPaths::FontsLocation},
    {0x0002, QStandardPaths::ApplicationsLocation},   // programs
    {0x000b, QStandardPaths::ApplicationsLocation},   // start menu
};

bool isSpecialFolder(int id)
{
    for (const TSpecialFolder& folder : kSpecialFolders) {
        if (folder.Id == id)
            return true;
    }
    return false;
}

}  // namespace

const TSpecialFolder* SpecialFolders() { return kSpecialFolders; }

int SpecialFolderCount() { return static_cast<int>(std::size(kSpecialFolders)); }

QString SpecialFolderPath(int id)
{
    if (id == 0 || id == 0x0011)  // the desktop's tree, "my computer": everything
        return QDir::rootPath();
    for (const StandardFolder& folder : kStandardFolders) {
        if (folder.id == id)
            return QStandardPaths::writableLocation(folder.location);
    }
    return {};
}

bool IsInsideFolder(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return true;
    const QString inner = QDir::cleanPath(path);
    const QString outer = QDir::cleanPath(folder);
    if (inner == outer)
        return true;
    return inner.startsWith(outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/'));
}

QString FolderDisplayName(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? QDir::toNativeSeparators(path) : name;
}

TFolderBrowseDialog::TFolderBrowseDialog(QObject* owner) : QObject(owner) {}

void TFolderBrowseDialog::SetRootFolderID(int id)
{
    if (id == rootFolderId_)
        return;
    if (!isSpecialFolder(id))
        throw EFolderBrowseError("Invalid special folder ID");
    rootFolderId_ = id;
}

void TFolderBrowseDialog::SetOptions(TFolderBrowseDlgOptions options)
{
    if (options == options_)
        return;
    const TFolderBrowseDlgOptions added = options & ~options_;
    if (added & boNewDlgStyle)
        options &= ~(boShowHelp | boStatusText);
    else if (added & (boShowHelp | boStatusText))
        options &= ~boNewDlgStyle;
    options_ = options;
}

QFileDialog* TFolderBrowseDialog::Window() const { return window_; }

bool TFolderBrowseDialog::Execute()
{
    TFolderBrowseRequest request;
    if (rootFolderId_ != 0) {
        request.RootFolder = SpecialFolderPath(rootFolderId_);
        if (request.RootFolder.isEmpty())
            throw EFolderBrowseError("Root folder not supported on this system");
    }
    request.Title = Title;
    request.Headline = Headline;
    request.FolderName = FolderName;
    request.Options = options_;
    request.HelpContext = HelpContext;
    request.Initialised = [this](QFileDialog& window) {
        window_ = &window;
        if (OnInitialise)
            OnInitialise(this);
    };
    request.SelectionChanged = [this](const QString& folder, const QString& displayName,
                                      QString& statusText, bool& okEnabled) {
        if (OnSelChange)
            OnSelChange(this, folder, displayName, statusText, okEnabled);
    };
    request.HelpRequested = [this](int helpContext) {
        if (ShowHelpTopic)
            ShowHelpTopic(helpContext);
    };
    request.Closing = [this] {
        if (OnClose)
            OnClose(this);
        window_ = nullptr;
    };

    QWidget* ownerWindow = qobject_cast<QWidget*>(parent());
    QString chosen;
    const bool picked = chooser_ ? chooser_(ownerWindow, request, chosen)
                                 : RunFolderChooser(ownerWindow, request, chosen);
    window_ = nullptr;
    if (!picked || chosen.isEmpty() || !IsInsideFolder(chosen, request.RootFolder))
        return false;
    if ((options_ & boDirsOnly) && !QFileInfo(chosen).isDir())
        return false;
    FolderName = chosen;
    displayName_ = FolderDisplayName(chosen);
    return true;
}

}  // namespace clipmora

// Start-up, layout, menus and closing of the main window.
#include "app/main_window.h"

#include "app/about_box.h"
#include "app/options_dialog.h"
#include "job/split_job.h"
#include "app/user_dialogs.h"
#include "widgets/folder_browse_dialog.h"
#include "widgets/hl_track_bar.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QPaintEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QToolTip>
#include <QUrl>

#include <exception>
#include <utility>

namespace clipmora {
namespace {

QLabel* addLabel(QWidget* parent, const QString& text, int x, int y, int width)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, width, 16);
    return label;
}

QComboBox* addDropDown(QWidget* parent, const char* name, int x, int y, int width)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setGeometry(x, y, width, 22);
    return combo;
}

QLabel* addPanel(QWidget* parent, const char* name, const QString& caption, int x, int y,
                 int width, int height)
{
    auto* panel = new QLabel(caption, parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(x, y, width, height);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

}  // namespace

TForm1::TForm1(const QString& programFolder, CodecBinding binding, QWidget* parent)
    : QMainWindow(parent), programFolder_(programFolder)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(730, 500);

    // Loading the libraries is most of the start-up's work. Put off, it
    // still begins here with a look at their files: a missing one fails
    // the binding at once, with its message, before there is a window.
    const bool bindNow = binding == CodecBinding::AtCreation ||
                         !TTranscoder::CodecLibraryFilesPresent(libraryFolder(), true);
    if (bindNow && !bindCodecLibraries())
        return;

    setWindowTitle(QStringLiteral("Clipmora"));
    helpFile_ = programFolder_ + QStringLiteral("/help.html");
    outputVolume_ = 255;

    buildControls();
    buildMenus();
    watchControlKeys();
    // The keyboard starts on the timeline, where the window's keys act.
    hlTrackBar1_->setFocus();
    setAcceptDrops(true);
    // The 730 x 500 client area lies below the menu bar; the window may
    // grow from there, not shrink.
    keepSpecifiedSizeAsMinimum(QSize(730, 500 + menuBar()->sizeHint().height()));

    FillFormatList(profile_);
    comboOutputFormat_->setMaxVisibleItems(25);
    splitBusy_ = false;
    FillFixedLists(profile_);
    RefreshProfileCombos();
    connectProfileCombos();
    connectEngineEvents();

    browseForFolderDialog_ = new TFolderBrowseDialog(this);
    browseForFolderDialog_->SetChooser(
        [](QWidget* owner, const TFolderBrowseRequest& request, QString& chosen) {
            return UserDialogs::current().ChooseFolder(owner, request, chosen);
        });

    // The additional-settings dialog fills the quality lists and restores the
    // stored settings.
    optionsForm_ = new TForm2OptionsForm(this);
    ApplyKeepStreamsChoice();
    // The stored settings may hide the strip under the timeline.
    ApplyTimelineStripChoice();
    aboutBox_ = new TAboutBox(this);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (binding == CodecBinding::AtCreation)
        startupFinished();
}

TForm1::~TForm1()
{
    // No late report may reach a window that is going away.
    stopStripBuild(true);
    transcoder_.DetachEvents();
    transcoder_.StopTasks();
    streamCut_.reset();
    // The graph lets go of the video window while both are still there.
    try {
        filterGraph1_.SetActive(false);
    } catch (const std::exception&) {
    }
}

std::string TForm1::libraryFolder() const
{
    return (programFolder_ + QStringLiteral("/Common")).toStdString();
}

bool TForm1::bindCodecLibraries()
{
    if (!transcoder_.LoadCodecLibraries(libraryFolder(), true)) {
        UserDialogs::current().Information(
            this, QStringLiteral("Some files are missing. Please re-install this software"));
        startupFailed_ = true;
        return false;
    }
    librariesBound_ = true;
    return true;
}

bool TForm1::startupFinished()
{
    if (startupFinished_)
        return true;
    if (startupFailed_)
        return false;
    if (!librariesBound_ && !bindCodecLibraries()) {
        emit CodecLibrariesFailed();
        return false;
    }
    startPreviewFramework();
    startupFinished_ = true;
    emit StartupFinished();
    return true;
}

void TForm1::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    if (startupFinished_ || finishQueued_ || startupFailed_)
        return;
    // The window reaches the screen when this paint is flushed; the rest of
    // the start-up follows from the event queue.
    finishQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { startupFinished(); }, Qt::QueuedConnection);
}

void TForm1::buildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    // Built in the keyboard's order: the right-hand column, then the
    // preview and the timeline on the left.
    buildFileControls(client);
    buildFormatControls(client);
    buildSplitControls(client);
    buildMarkPanels(client);
    buildPreviewControls(client);
    buildStatusBar();
}

namespace {

// The preview, timeline and mark controls occupy x < 405; the split
// controls take the right-hand column.
constexpr int kLeft = 412;
constexpr int kWide = 306;
constexpr int kHalf = 150;
constexpr int kRight = kLeft + kWide - kHalf;

QPushButton* addButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                       int width, int height)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, y, width, height);
    return button;
}

QLineEdit* addReadOnlyField(QWidget* parent, const char* name, int y)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setReadOnly(true);
    field->setGeometry(kLeft, y, kWide, 22);
    return field;
}

}  // namespace

void TForm1::buildFileControls(QWidget* client)
{
    buttonAddFile_ =
        addButton(client, "ButtonAddFile", QStringLiteral("Add Video File"), kLeft, 6, 120, 26);
    editVideoFilename_ = addReadOnlyField(client, "EditVideoFilename", 36);
    buttonBrowseForFolder_ = addButton(client, "ButtonBrowseForFolder",
                                       QStringLiteral("Output Folder"), kLeft, 66, 120, 26);
    editOutputFolder_ = addReadOnlyField(client, "EditOutputFolder", 96);
    connect(buttonAddFile_, &QPushButton::clicked, this, &TForm1::AddFileClick);
    connect(buttonBrowseForFolder_, &QPushButton::clicked, this, &TForm1::BrowseForFolderClick);
}

void TForm1::buildFormatControls(QWidget* client)
{
    addLabel(client, QStringLiteral("Output Format:"), kLeft, 126, kWide);
    comboOutputFormat_ = addDropDown(client, "ComboOutputFormat", kLeft, 144, kWide);

    addLabel(client, QStringLiteral("Video Size:"), kLeft, 174, kHalf);
    comboVideoSize_ = addDropDown(client, "ComboVideoSize", kLeft, 192, kHalf);
    addLabel(client, QStringLiteral("Frame Rate:"), kRight, 174, kHalf);
    comboVideoFramerate_ = addDropDown(client, "ComboVideoFramerate", kRight, 192, kHalf);

    addLabel(client, QStringLiteral("Video Quality:"), kLeft, 222, kHalf);
    comboVideoQuality_ = addDropDown(client, "ComboVideoQuality", kLeft, 240, kHalf);
    addLabel(client, QStringLiteral("Audio Quality:"), kRight, 222, kHalf);
    comboAudioQuality_ = addDropDown(client, "ComboAudioQuality", kRight, 240, kHalf);
    for (QComboBox* quality : {comboVideoQuality_, comboAudioQuality_}) {
        quality->installEventFilter(this);
        quality->setToolTipDuration(30000);
    }

    addLabel(client, QStringLiteral("Audio Channels:"), kLeft, 270, kHalf);
    comboAudioChannels_ = addDropDown(client, "ComboAudioChannels", kLeft, 288, kHalf);
    addLabel(client, QStringLiteral("Output Volume:"), kRight, 270, kHalf);
    trackBarVolumeOut_ = new QSlider(Qt::Horizontal, client);
    trackBarVolumeOut_->setObjectName(QStringLiteral("TrackBarVolumeOut"));
    trackBarVolumeOut_->setGeometry(kRight, 288, kHalf, 24);
    trackBarVolumeOut_->setRange(0, 10);
    trackBarVolumeOut_->setPageStep(1);
    trackBarVolumeOut_->setTickPosition(QSlider::TicksBelow);
    trackBarVolumeOut_->setValue(5);
    connect(trackBarVolumeOut_, &QSlider::valueChanged, this,
            [this](int position) { outputVolume_ = OutputVolumeForPosition(position); });
}

void TForm1::buildSplitControls(QWidget* client)
{
    buttonSplit_ =
        addButton(client, "ButtonSplit", QStringLiteral("Start Splitting"), kLeft, 326, kHalf, 36);
    QFont bold = buttonSplit_->font();
    bold.setBold(true);
    buttonSplit_->setFont(bold);
    buttonStopSplit_ =
        addButton(client, "ButtonStopSplit", QStringLiteral("Stop"), kRight, 326, kHalf, 36);
    connect(buttonSplit_, &QPushButton::clicked, this, &TForm1::SplitClick);
    connect(buttonStopSplit_, &QPushButton::clicked, this, &TForm1::StopSplitClick);

    progressBar1_ = new QProgressBar(client);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setGeometry(kLeft, 374, kWide - 56, 22);
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);
    panelPercent_ = addPanel(client, "PanelPercent", QStringLiteral("0%"), kLeft + kWide - 50,
                             374, 50, 22);
}

void TForm1::buildMarkPanels(QWidget* client)
{
    // The timeline itself joins these read-outs later.
    addLabel(client, QStringLiteral("Start: "), 8, 306, 34);
    panelStart_ = addPanel(client, "PanelStart", QString(), 42, 304, 105, 19);
    addLabel(client, QStringLiteral("End: "), 153, 306, 27);
    panelEnd_ = addPanel(client, "PanelEnd", QString(), 180, 304, 107, 19);
    panelCurrentPosition_ = addPanel(client, "PanelCurrentPosition",
                                     QStringLiteral("Video Position"), 294, 304, 107, 19);
    for (QLabel* panel : {panelStart_, panelEnd_, panelCurrentPosition_}) {
        QFont font = panel->font();
        font.setBold(true);
        panel->setFont(font);
        panel->setStyleSheet(QStringLiteral("color: blue"));
    }
    buildMarkEditors();
}

void TForm1::buildStatusBar()
{
    static constexpr int kPanelWidths[3] = {50, 250, 50};
    for (int index = 0; index < 3; ++index) {
        statusPanels_[index] = new QLabel(statusBar());
        statusPanels_[index]->setObjectName(QStringLiteral("StatusPanel%1").arg(index));
        statusPanels_[index]->setFixedWidth(kPanelWidths[index]);
        statusPanels_[index]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addWidget(statusPanels_[index]);
    }
    statusTimeLeft_ = new QLabel(statusBar());
    statusTimeLeft_->setObjectName(QStringLiteral("StatusTimeLeft"));
    statusTimeLeft_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addWidget(statusTimeLeft_, 1);
    // Why the preview could not play a file, in the framework's own words;
    // shown only while there is something to say.
    statusPlayback_ = new QLabel(statusBar());
    statusPlayback_->setObjectName(QStringLiteral("StatusPlayback"));
    statusPlayback_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusPlayback_->hide();
    statusBar()->addWidget(statusPlayback_, 1);

    statusPanels_[0]->setText(QStringLiteral("Ready"));
    statusPanels_[1]->setAlignment(Qt::AlignCenter);
    statusBar()->setSizeGripEnabled(false);
}

void TForm1::buildMenus()
{
    menuFile_ = menuBar()->addMenu(QStringLiteral("File"));
    menuPlayback_ = menuBar()->addMenu(QStringLiteral("Playback"));
    buildShortcuts();
    menuFile_->addSeparator();
    actionExit_ = menuFile_->addAction(QStringLiteral("Exit"), this, &TForm1::ExitClick);
    menuSettings_ = menuBar()->addMenu(QStringLiteral("Settings"));
    actionAdditionalSettings_ = menuSettings_->addAction(
        QStringLiteral("Additional Settings"), this, &TForm1::AdditionalSettingsClick);
    menuHelp_ = menuBar()->addMenu(QStringLiteral("Help"));
    actionOpenHelp_ =
        menuHelp_->addAction(QStringLiteral("Open Help File"), this, &TForm1::OpenHelpClick);
    actionAbout_ = menuHelp_->addAction(QStringLiteral("About"), this, &TForm1::AboutClick);
    const std::pair<QObject*, const char*> named[] = {
        {menuFile_, "MenuFile"},
        {menuPlayback_, "MenuPlayback"},
        {menuSettings_, "MenuSettings"},
        {menuHelp_, "MenuHelp"},
        {actionExit_, "ActionExit"},
        {actionAdditionalSettings_, "ActionAdditionalSettings"},
        {actionOpenHelp_, "ActionOpenHelp"},
        {actionAbout_, "ActionAbout"},
        {actionAddFile_, "ActionAddFile"},
        {actionOpenOutputFolder_, "ActionOpenOutputFolder"},
        {actionStartSplit_, "ActionStartSplit"},
        {actionStopSplit_, "ActionStopSplit"},
    };
    for (const auto& [object, name] : named)
        object->setObjectName(QLatin1String(name));
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (firstShowDone_ || startupFailed_)
        return;
    firstShowDone_ = true;
    FormatChangeStep(profile_);
    ApplyQualityLevels(profile_);
    RefreshProfileCombos();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (keepsKeyFromShortcuts(watched, event)) {
        event->accept();
        return true;
    }
    if (spaceOnButton(watched, event))
        return true;
    if (previewWindowEvent(watched, event))
        return true;
    // Hovering a quality list names the bit rate it stands for.
    if (event->type() == QEvent::Enter) {
        if (watched == comboVideoQuality_)
            comboVideoQuality_->setToolTip(
                QString::fromStdString(profile_.ComboVideoBitrate.SelectedText()));
        else if (watched == comboAudioQuality_)
            comboAudioQuality_->setToolTip(
                QString::fromStdString(profile_.ComboAudioBitrate.SelectedText()));
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (splitBusy_) {
        event->ignore();
        return;
    }
    if (!startupFailed_ && optionsForm_)
        optionsForm_->SaveSettings();
    stopStripBuild(true);
    transcoder_.DetachEvents();
    transcoder_.StopTasks();
    streamCut_.reset();
    event->accept();
}

void TForm1::ExitClick()
{
    if (splitBusy_)
        return;
    // Ends the application without the close steps: the settings stay as
    // they were stored.
    transcoder_.DetachEvents();
    transcoder_.StopTasks();
    streamCut_.reset();
    QCoreApplication::exit(0);
}

void TForm1::AdditionalSettingsClick()
{
    if (splitBusy_ || !optionsForm_)
        return;
    UserDialogs::current().RunModal(*optionsForm_);
}

void TForm1::OpenHelpClick()
{
    if (splitBusy_)
        return;
    // The help opens at its table of contents.
    QUrl help = QUrl::fromLocalFile(helpFile_);
    help.setFragment(QStringLiteral("contents"));
    UserDialogs::current().ShowOnDesktop(this, helpFile_, help);
}

void TForm1::AboutClick()
{
    if (splitBusy_ || !aboutBox_)
        return;
    UserDialogs::current().RunModal(*aboutBox_);
}

}  // namespace clipmora

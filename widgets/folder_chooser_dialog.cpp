// The folder picker's window over Qt's own directory dialog.
#include "widgets/folder_chooser_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMetaObject>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

#include <vector>

namespace clipmora {
namespace {

// Moves every item of `grid` down by `rows` rows, freeing rows at the top.
void openRowsAtTop(QGridLayout& grid, int rows)
{
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed(static_cast<size_t>(grid.count()));
    for (int i = 0; i < grid.count(); ++i) {
        Placed& p = placed[static_cast<size_t>(i)];
        grid.getItemPosition(i, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
    }
    for (int i = grid.count() - 1; i >= 0; --i)
        placed[static_cast<size_t>(i)].item = grid.takeAt(i);
    for (const Placed& p : placed)
        grid.addItem(p.item, p.row + rows, p.column, p.rowSpan, p.columnSpan);
}

}  // namespace

FolderChooserDialog::FolderChooserDialog(QWidget* parent, const TFolderBrowseRequest& request)
    : QFileDialog(parent), request_(request)
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly, (request_.Options & boDirsOnly) != 0);
    if (!request_.Title.isEmpty())
        setWindowTitle(request_.Title);
    setWindowFlag(Qt::WindowContextHelpButtonHint, (request_.Options & boContextHelp) != 0);
    setSizeGripEnabled((request_.Options & boNewDlgStyle) != 0);

    const QString root = request_.RootFolder;
    if (!root.isEmpty()) {
        setSidebarUrls({QUrl::fromLocalFile(root)});
        setHistory({});
        connect(this, &QFileDialog::directoryEntered, this, &FolderChooserDialog::keepInsideRoot);
    }
    const QString start = !request_.FolderName.isEmpty() &&
                                  IsInsideFolder(request_.FolderName, root)
                              ? request_.FolderName
                              : root;
    if (!start.isEmpty())
        setDirectory(start);

    addHeadlineAndStatusLine();
    if (auto* buttons = findChild<QDialogButtonBox*>()) {
        okButton_ = buttons->button(QDialogButtonBox::Open);
        if (request_.Options & boShowHelp)
            addHelpButton();
    }
    // With the title bar's context help, F1 is the desktop's; without it the
    // dialog answers F1 with its help topic.
    if (!(request_.Options & boContextHelp)) {
        auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
        connect(f1, &QShortcut::activated, this, &FolderChooserDialog::requestHelp);
    }
    if (okButton_) {
        dialogOkEnabled_ = okButton_->isEnabled();
        okButton_->installEventFilter(this);
    }
    connect(this, &QFileDialog::currentChanged, this,
            &FolderChooserDialog::selectionMayHaveChanged);
    // Both views of the folder's entries share the list's selection (the
    // side bar is a list of its own).
    if (auto* list = findChild<QListView*>(QStringLiteral("listView"));
        list && list->selectionModel())
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &FolderChooserDialog::selectionMayHaveChanged);
    connect(this, &QFileDialog::directoryEntered, this,
            &FolderChooserDialog::selectionMayHaveChanged);
}

void FolderChooserDialog::addHeadlineAndStatusLine()
{
    headline_ = new QLabel(request_.Headline, this);
    headline_->setObjectName(QStringLiteral("LabelHeadline"));
    headline_->setWordWrap(true);
    headline_->setVisible(!request_.Headline.isEmpty());
    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("LabelStatusText"));
    statusLine_->setWordWrap(true);
    statusLine_->setVisible((request_.Options & boStatusText) != 0);
    // The directory dialog lays itself out on a grid; the two lines go above it.
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        openRowsAtTop(*grid, 2);
        grid->addWidget(headline_, 0, 0, 1, -1);
        grid->addWidget(statusLine_, 1, 0, 1, -1);
    }
}

void FolderChooserDialog::addHelpButton()
{
    auto* buttons = findChild<QDialogButtonBox*>();
    helpButton_ = buttons->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
    helpButton_->setObjectName(QStringLiteral("ButtonHelp"));
    helpButton_->setEnabled(request_.HelpContext != 0);
    connect(helpButton_, &QPushButton::clicked, this, &FolderChooserDialog::requestHelp);
}

void FolderChooserDialog::requestHelp()
{
    if (request_.HelpContext != 0 && request_.HelpRequested)
        request_.HelpRequested(request_.HelpContext);
}

QString FolderChooserDialog::CurrentFolder() const
{
    const QStringList selected = selectedFiles();
    return selected.isEmpty() ? QString() : QDir::cleanPath(selected.constFirst());
}

void FolderChooserDialog::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    if (initialised_)
        return;
    initialised_ = true;
    if (request_.Initialised)
        request_.Initialised(*this);
    // The folder the dialog opens on is the first selection.
    selectionMayHaveChanged();
}

void FolderChooserDialog::selectionMayHaveChanged()
{
    if (checkQueued_)
        return;
    checkQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            checkQueued_ = false;
            reportSelection();
        },
        Qt::QueuedConnection);
}

void FolderChooserDialog::reportSelection()
{
    if (closed_ || !initialised_)
        return;
    const QString folder = CurrentFolder();
    // A folder outside the root is on its way back to the root.
    if (!IsInsideFolder(folder, request_.RootFolder))
        return;
    if (reportedOnce_ && folder == reportedFolder_)
        return;
    reportedOnce_ = true;
    reportedFolder_ = folder;

    QString statusText;
    bool okEnabled = dialogOkEnabled_;
    imposedOkEnabled_.reset();
    if (request_.SelectionChanged) {
        request_.SelectionChanged(folder, FolderDisplayName(folder), statusText, okEnabled);
        if (okEnabled != dialogOkEnabled_)
            imposedOkEnabled_ = okEnabled;
    }
    setOkEnabled(imposedOkEnabled_.value_or(dialogOkEnabled_));
    if (request_.Options & boStatusText)
        statusLine_->setText(statusText);
}

void FolderChooserDialog::setOkEnabled(bool enabled)
{
    if (!okButton_ || okButton_->isEnabled() == enabled)
        return;
    imposing_ = true;
    okButton_->setEnabled(enabled);
    imposing_ = false;
}

bool FolderChooserDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The directory dialog sets its OK button as it sees fit after every
    // keystroke and click; a handler's decision outlasts that until the
    // selection changes again.
    if (watched == okButton_ && event->type() == QEvent::EnabledChange && !imposing_) {
        dialogOkEnabled_ = okButton_->isEnabled();
        if (imposedOkEnabled_ && *imposedOkEnabled_ != dialogOkEnabled_)
            setOkEnabled(*imposedOkEnabled_);
    }
    return QFileDialog::eventFilter(watched, event);
}

void FolderChooserDialog::keepInsideRoot(const QString& directory)
{
    if (IsInsideFolder(directory, request_.RootFolder))
        return;
    // Not from inside the dialog's own signal: it is still updating its views.
    QMetaObject::invokeMethod(
        this, [this] { setDirectory(request_.RootFolder); }, Qt::QueuedConnection);
}

void FolderChooserDialog::accept()
{
    if (imposedOkEnabled_ == false)
        return;
    if (!IsInsideFolder(CurrentFolder(), request_.RootFolder)) {
        setDirectory(request_.RootFolder);
        selectionMayHaveChanged();
        return;
    }
    QFileDialog::accept();
}

void FolderChooserDialog::done(int result)
{
    if (!closed_) {
        closed_ = true;
        if (request_.Closing)
            request_.Closing();
    }
    QFileDialog::done(result);
}

bool RunFolderChooser(QWidget* parent, const TFolderBrowseRequest& request, QString& chosen)
{
    FolderChooserDialog dialog(parent, request);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString folder = dialog.CurrentFolder();
    if (folder.isEmpty())
        return false;
    chosen = folder;
    return true;
}

}  // namespace clipmora

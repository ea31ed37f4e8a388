// The folder picker: its window over Qt's own directory dialog, opened
// without a modal loop and driven through its controls, and the component
// that runs it modally and raises its window events.
#include "widgets/folder_browse_dialog.h"
#include "widgets/folder_chooser_dialog.h"
#include "tests/support/qt_application.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <ostream>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace clipmora {
namespace {

namespace fs = std::filesystem;

// What the dialog reported while it was open.
struct Reports {
    QStringList folders;
    QStringList displayNames;
    QList<int> helpTopics;
    int initialised = 0;
    int closed = 0;
};

class FolderChooserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::EnsureApplication(); }
    void SetUp() override
    {
        for (const char* folder : {"root/alpha", "root/beta", "outside"})
            fs::create_directories(base.path() / folder);
    }

    QString folder(const char* relative) const
    {
        return QDir::cleanPath(QString::fromStdString((base.path() / relative).string()));
    }

    // A request whose events land in `reports`.
    TFolderBrowseRequest request(TFolderBrowseDlgOptions options)
    {
        TFolderBrowseRequest r;
        r.Options = options;
        r.Initialised = [this](QFileDialog&) { ++reports.initialised; };
        r.SelectionChanged = [this](const QString& path, const QString& displayName,
                                    QString& statusText, bool&) {
            reports.folders << path;
            reports.displayNames << displayName;
            statusText = QStringLiteral("status of ") + displayName;
        };
        r.HelpRequested = [this](int context) { reports.helpTopics << context; };
        r.Closing = [this] { ++reports.closed; };
        return r;
    }

    static bool waitFor(const std::function<bool()>& done, int milliseconds = testing::kEventWaitMs)
    {
        return testing::WaitUntil(done, milliseconds);
    }

    // Returns once the calls `dialog` had queued have run, and those they
    // queued in turn: a call queued behind them, and one queued behind that.
    static void settle(QObject& dialog)
    {
        for (int round = 0; round < 2; ++round) {
            bool ran = false;
            QMetaObject::invokeMethod(&dialog, [&ran] { ran = true; }, Qt::QueuedConnection);
            ASSERT_TRUE(waitFor([&] { return ran; }));
        }
    }

    // Shows `dialog` as the active window, as the user meets it.
    static void showActive(QWidget& dialog)
    {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    // Clicks the entry `name` of the folder shown, once the list holds it.
    static void clickEntry(QFileDialog& dialog, const QString& name)
    {
        auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(list, nullptr);
        QModelIndex entry;
        ASSERT_TRUE(waitFor([&] {
            const QAbstractItemModel* model = list->model();
            for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
                const QModelIndex index = model->index(row, 0, list->rootIndex());
                if (index.data().toString() == name) {
                    entry = index;
                    return true;
                }
            }
            return false;
        })) << name.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(entry).center());
    }

    testing::TempFolder base;
    Reports reports;
};

TEST_F(FolderChooserTest, CaptionHeadlineStatusLineAndHelpButton)
{
    TFolderBrowseRequest r = request(boShowHelp | boStatusText | boDirsOnly);
    r.Title = QStringLiteral("Choose Where The Clip Goes");
    r.Headline = QStringLiteral("Output folder:");
    r.HelpContext = 7;
    r.FolderName = folder("root/alpha");
    FolderChooserDialog dialog(nullptr, r);
    showActive(dialog);

    EXPECT_EQ(dialog.windowTitle(), r.Title) << "the caption is exactly the title";
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog.testOption(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(dialog.HeadlineLabel()->isVisible());
    EXPECT_EQ(dialog.HeadlineLabel()->text(), r.Headline);
    EXPECT_TRUE(dialog.StatusLine()->isVisible());
    EXPECT_LT(dialog.HeadlineLabel()->geometry().bottom(), dialog.StatusLine()->geometry().top());
    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    EXPECT_LT(dialog.StatusLine()->geometry().bottom(), list->mapTo(&dialog, QPoint(0, 0)).y())
        << "both lines lie above the folders";

    ASSERT_TRUE(waitFor([&] { return !reports.folders.isEmpty(); }));
    EXPECT_EQ(reports.folders, QStringList{folder("root/alpha")});
    EXPECT_EQ(reports.displayNames, QStringList{QStringLiteral("alpha")});
    EXPECT_EQ(dialog.StatusLine()->text(), QStringLiteral("status of alpha"));
    EXPECT_EQ(reports.initialised, 1);

    ASSERT_NE(dialog.HelpButton(), nullptr);
    EXPECT_EQ(dialog.HelpButton()->text(), QStringLiteral("&Help"));
    EXPECT_TRUE(dialog.HelpButton()->isEnabled());
    dialog.HelpButton()->click();
    // F1 where the user is, the folder list: the dialog answers it.
    QTest::keyClick(list, Qt::Key_F1);
    EXPECT_EQ(reports.helpTopics, (QList<int>{7, 7}));
    EXPECT_EQ(reports.closed, 0);
    dialog.reject();
    EXPECT_EQ(reports.closed, 1);
}

TEST_F(FolderChooserTest, HelpFollowsTheOptionsAndTheHelpContext)
{
    struct Case {
        const char* name;
        TFolderBrowseDlgOptions options;
        int helpContext;
        bool helpButton, helpButtonEnabled;
        int topicsAfterButtonAndF1;
    };
    const Case cases[] = {
        {"defaults", boContextHelp | boDirsOnly, 3, false, false, 0},
        {"context help keeps F1", boShowHelp | boContextHelp, 3, true, true, 1},
        {"no context help: F1 too", boShowHelp, 3, true, true, 2},
        {"no topic", boShowHelp, 0, true, false, 0},
        {"F1 alone", 0, 4, false, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reports = {};
        TFolderBrowseRequest r = request(c.options);
        r.HelpContext = c.helpContext;
        FolderChooserDialog dialog(nullptr, r);
        showActive(dialog);
        ASSERT_EQ(dialog.HelpButton() != nullptr, c.helpButton);
        if (dialog.HelpButton()) {
            EXPECT_EQ(dialog.HelpButton()->isEnabled(), c.helpButtonEnabled);
            dialog.HelpButton()->click();
        }
        QTest::keyClick(dialog.findChild<QListView*>(QStringLiteral("listView")), Qt::Key_F1);
        EXPECT_EQ(reports.helpTopics.size(), c.topicsAfterButtonAndF1);
        EXPECT_EQ(dialog.StatusLine()->isVisible(), false) << "no status line without boStatusText";
        EXPECT_EQ(dialog.HeadlineLabel()->isVisible(), false) << "no headline given";
        EXPECT_EQ(bool(dialog.windowFlags() & Qt::WindowContextHelpButtonHint),
                  bool(c.options & boContextHelp));
    }
}

TEST_F(FolderChooserTest, EverySelectionIsReportedAndTheHandlerRulesTheOkButton)
{
    TFolderBrowseRequest r = request(boStatusText | boDirsOnly);
    r.RootFolder = folder("root");
    const auto record = r.SelectionChanged;
    // "beta" may not be chosen.
    r.SelectionChanged = [record](const QString& path, const QString& displayName,
                                  QString& statusText, bool& okEnabled) {
        EXPECT_TRUE(okEnabled) << "the dialog itself would take " << path.toStdString();
        record(path, displayName, statusText, okEnabled);
        if (displayName == QStringLiteral("beta")) {
            okEnabled = false;
            statusText = QStringLiteral("beta is full");
        }
    };
    FolderChooserDialog dialog(nullptr, r);
    dialog.show();
    ASSERT_TRUE(waitFor([&] { return reports.folders.size() == 1; }));
    EXPECT_EQ(reports.folders.last(), folder("root"));

    clickEntry(dialog, QStringLiteral("beta"));
    ASSERT_TRUE(waitFor([&] { return reports.folders.size() == 2; }));
    EXPECT_EQ(reports.folders.last(), folder("root/beta"));
    EXPECT_EQ(dialog.StatusLine()->text(), QStringLiteral("beta is full"));
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    // The directory dialog re-checks its button on every edit; the
    // handler's answer stands until the selection changes.
    dialog.findChild<QLineEdit*>()->setText(QStringLiteral("beta"));
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    QTest::keyClick(dialog.findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter does not choose what OK may not";

    clickEntry(dialog, QStringLiteral("alpha"));
    ASSERT_TRUE(waitFor([&] { return reports.folders.size() == 3; }));
    EXPECT_EQ(reports.folders.last(), folder("root/alpha"));
    EXPECT_EQ(dialog.StatusLine()->text(), QStringLiteral("status of alpha"));
    ASSERT_TRUE(dialog.OkButton()->isEnabled());
    EXPECT_EQ(reports.closed, 0);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.CurrentFolder(), folder("root/alpha"));
    EXPECT_EQ(reports.closed, 1);
}

TEST_F(FolderChooserTest, TheRootFolderCannotBeLeft)
{
    TFolderBrowseRequest r = request(boDirsOnly);
    r.RootFolder = folder("root");
    r.FolderName = folder("outside");
    FolderChooserDialog dialog(nullptr, r);
    dialog.show();
    EXPECT_EQ(QDir::cleanPath(dialog.directory().absolutePath()), folder("root"))
        << "a start outside the root opens at the root";
    EXPECT_EQ(dialog.sidebarUrls(), QList<QUrl>{QUrl::fromLocalFile(folder("root"))});
    ASSERT_TRUE(waitFor([&] { return !reports.folders.isEmpty(); }));

    // Up from the root comes back to it.
    auto* up = dialog.findChild<QToolButton*>(QStringLiteral("toParentButton"));
    ASSERT_NE(up, nullptr);
    up->click();
    settle(dialog);
    EXPECT_EQ(QDir::cleanPath(dialog.directory().absolutePath()), folder("root"));

    // A path typed outside, or "..", is not chosen.
    auto* name = dialog.findChild<QLineEdit*>();
    for (const QString& typed : {folder("outside"), QStringLiteral("..")}) {
        name->setText(typed);
        dialog.OkButton()->click();
        settle(dialog);
        EXPECT_TRUE(dialog.isVisible()) << typed.toStdString();
        EXPECT_EQ(QDir::cleanPath(dialog.directory().absolutePath()), folder("root"));
    }
    for (const QString& reported : reports.folders)
        EXPECT_TRUE(IsInsideFolder(reported, folder("root"))) << reported.toStdString();
}

TEST_F(FolderChooserTest, ComponentRaisesTheWindowEventsWhileTheDialogIsOpen)
{
    QWidget owner;
    TFolderBrowseDialog browse(&owner);
    browse.Title = QStringLiteral("Output Folder");
    browse.FolderName = folder("root/alpha");
    browse.HelpContext = 12;
    browse.SetOptions(boShowHelp | boStatusText | boDirsOnly);
    QStringList events;
    browse.OnInitialise = [&](TFolderBrowseDialog* sender) {
        ASSERT_NE(sender->Window(), nullptr);
        events << QStringLiteral("initialise: ") + sender->Window()->windowTitle();
    };
    browse.OnSelChange = [&](TFolderBrowseDialog* sender, const QString& folderName,
                             const QString& displayName, QString& statusText, bool&) {
        events << QStringLiteral("selection: ") + displayName;
        EXPECT_EQ(folderName, folder("root/alpha"));
        statusText = QStringLiteral("ready");
        // The user asks for help, then chooses.
        auto* window = qobject_cast<FolderChooserDialog*>(sender->Window());
        ASSERT_NE(window, nullptr);
        QTimer::singleShot(0, window, [window, &events] {
            events << QStringLiteral("status: ") + window->StatusLine()->text();
            window->HelpButton()->click();
            window->OkButton()->click();
        });
    };
    browse.ShowHelpTopic = [&](int topic) { events << QStringLiteral("help %1").arg(topic); };
    browse.OnClose = [&](TFolderBrowseDialog* sender) {
        events << QStringLiteral("close");
        EXPECT_NE(sender->Window(), nullptr) << "the window is still there";
    };

    ASSERT_TRUE(browse.Execute());
    EXPECT_EQ(events, (QStringList{QStringLiteral("initialise: Output Folder"),
                                   QStringLiteral("selection: alpha"),
                                   QStringLiteral("status: ready"), QStringLiteral("help 12"),
                                   QStringLiteral("close")}));
    EXPECT_EQ(browse.Window(), nullptr);
    EXPECT_EQ(browse.FolderName, folder("root/alpha"));
    EXPECT_EQ(browse.DisplayName(), QStringLiteral("alpha"));
}

TEST_F(FolderChooserTest, AnAnswerOutsideTheRootIsNotTaken)
{
    TFolderBrowseDialog browse;
    browse.SetRootFolderID(0x0028);  // the profile: the home folder
    const QString home = SpecialFolderPath(0x0028);
    ASSERT_FALSE(home.isEmpty());
    QString asked;
    browse.SetChooser([&](QWidget*, const TFolderBrowseRequest& r, QString& chosen) {
        asked = r.RootFolder;
        chosen = QStringLiteral("/");
        return true;
    });
    EXPECT_FALSE(browse.Execute());
    EXPECT_EQ(asked, home);
    EXPECT_TRUE(browse.FolderName.isEmpty());

    EXPECT_TRUE(IsInsideFolder(home + QStringLiteral("/clips/"), home));
    EXPECT_FALSE(IsInsideFolder(home + QStringLiteral("-other"), home));
    EXPECT_TRUE(IsInsideFolder(QStringLiteral("/tmp"), QStringLiteral("/")));
    EXPECT_EQ(FolderDisplayName(QStringLiteral("/")), QStringLiteral("/"));
}

}  // namespace
}  // namespace clipmora

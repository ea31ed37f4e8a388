// Start-up of the real main window under the offscreen platform.
#include "app/application_identity.h"
#include "app/main_window.h"
#include "app/user_dialogs.h"
#include "tests/support/main_window_probe.h"
#include "engine/library_binding.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include "tests/support/qt_application.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMenuBar>
#include <QStringList>
#include <QTimer>

namespace clipmora {
namespace {

class RecordingDialogs : public UserDialogs {
public:
    void Information(QWidget*, const QString& text) override { messages << text; }
    QStringList messages;
};

class StartupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testing::EnsureApplication();
    }
    void SetUp() override { UserDialogs::install(&dialogs); }
    void TearDown() override
    {
        UserDialogs::install(nullptr);
        UnbindCodecLibraries();
    }
    RecordingDialogs dialogs;
};

TEST_F(StartupTest, BindsFromCommonBesideTheProgramAndOpensTheWindow)
{
    TForm1 form(QStringLiteral(CLIPMORA_BIN_DIR));
    EXPECT_FALSE(form.StartupFailed());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(CodecLibrariesBound());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Clipmora"));
    EXPECT_EQ(form.width(), 730);
    EXPECT_EQ(form.height() - form.menuBar()->sizeHint().height(), 500) << "client area";
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the window has a fixed size";
    EXPECT_EQ(TForm1Probe(form).HelpFile(), QStringLiteral(CLIPMORA_BIN_DIR "/help.html"));
}

TEST_F(StartupTest, MissingLibrariesEndTheStartWithOneMessage)
{
    testing::TempFolder emptyProgramFolder;
    TForm1 form(QString::fromStdString(emptyProgramFolder.path().string()));
    EXPECT_TRUE(form.StartupFailed());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0],
              QStringLiteral("Some files are missing. Please re-install this software"));
    EXPECT_NE(form.windowTitle(), QStringLiteral("Clipmora")) << "start-up stopped early";
    EXPECT_FALSE(CodecLibrariesBound());
    EXPECT_NE(
        TForm1Probe(form).Transcoder1().LastError().find("Load libraray libavcodec.so.59 error: "),
        std::string::npos);
}

TEST_F(StartupTest, CaptionsReadExactlyAsGiven)
{
    NameApplication();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Clipmora"));
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("Velmar"));
    // A display name that was set is appended to every caption the desktop
    // shows; one that was never set follows the application name.
    QCoreApplication::setApplicationName(QStringLiteral("renamed"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("renamed"))
        << "no display name may be set";
    NameApplication();

    // The real message box, closed as soon as it shows.
    UserDialogs::install(nullptr);
    QString caption;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            box->done(QDialog::Accepted);
        }
    });
    closer.start(10);
    UserDialogs::current().Information(nullptr, QStringLiteral("Splitting Done!"));
    EXPECT_EQ(caption, QStringLiteral("Information"));
}

}  // namespace
}  // namespace clipmora

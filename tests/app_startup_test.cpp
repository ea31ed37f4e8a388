// Start-up of the real main window under the offscreen platform.
#include "app/application_identity.h"
#include "app/main_window.h"
#include "app/user_dialogs.h"
#include "engine/codec_libraries.h"
#include "tests/support/main_window_probe.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include "tests/support/qt_application.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QGuiApplication>
#include <QMenuBar>
#include <QStringList>
#include <QTimer>

#include <filesystem>
#include <fstream>

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
    EXPECT_EQ(form.minimumSize(), form.size()) << "the window grows from its size, never shrinks";
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

// How the "Common" folder of a start-up that binds after the first paint is
// made: links to the build's libraries, one of them left out or replaced by
// a file that is no library.
enum class CommonFolder { Complete, DeviceLibraryMissing, CodecLibraryBroken };

void makeCommon(const std::filesystem::path& folder, CommonFolder kind)
{
    std::filesystem::create_directories(folder);
    for (int index = 0; index < kCodecLibraryCount; ++index) {
        const auto library = static_cast<CodecLibrary>(index);
        const std::string name = CodecLibraryFileName(library, true);
        if (kind == CommonFolder::DeviceLibraryMissing && library == CodecLibrary::Device)
            continue;
        if (kind == CommonFolder::CodecLibraryBroken && library == CodecLibrary::Codec)
            std::ofstream(folder / name) << "not a library\n";
        else
            std::filesystem::create_symlink(std::filesystem::path(CLIPMORA_COMMON_DIR) / name,
                                            folder / name);
    }
}

// Whether the codec libraries were bound when the window was first painted.
class FirstPaintWatch : public QObject {
public:
    explicit FirstPaintWatch(QWidget* window) { window->installEventFilter(this); }
    bool painted = false;
    bool boundAtFirstPaint = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            boundAtFirstPaint = CodecLibrariesBound();
            watched->removeEventFilter(this);
        }
        return false;
    }
};

// Whether the added file's path shows in one of the window's fields.
bool showsPath(const TForm1& form, const QString& path)
{
    for (const QLineEdit* field : form.findChildren<QLineEdit*>())
        if (field->text() == path)
            return true;
    return false;
}

TEST_F(StartupTest, BindingAfterTheFirstPaintRefusesMissingAndBrokenLibrariesAsBefore)
{
    testing::BindLibrariesForTests();
    const QString clip =
        QString::fromStdString(testing::CachedMedia("clip.mp4", testing::Mp4H264Aac()));
    const QString missing = QStringLiteral("Some files are missing. Please re-install this software");
    struct Case {
        const char* name;
        CommonFolder common;
        bool refusedBeforeWindow;
        bool refusedAfterPaint;
    };
    const Case cases[] = {
        {"complete", CommonFolder::Complete, false, false},
        {"a library missing", CommonFolder::DeviceLibraryMissing, true, false},
        {"a library that cannot be loaded", CommonFolder::CodecLibraryBroken, false, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        UnbindCodecLibraries();
        dialogs.messages.clear();
        testing::TempFolder programFolder;
        makeCommon(programFolder.path() / "Common", row.common);

        TForm1 form(QString::fromStdString(programFolder.path().string()),
                    CodecBinding::AfterFirstPaint);
        EXPECT_EQ(form.StartupFailed(), row.refusedBeforeWindow);
        if (row.refusedBeforeWindow) {
            EXPECT_EQ(dialogs.messages, QStringList{missing});
            EXPECT_FALSE(CodecLibrariesBound());
            continue;
        }
        EXPECT_TRUE(dialogs.messages.isEmpty());
        // As the program does with the files named on its command line.
        bool failed = false;
        QObject::connect(
            &form, &TForm1::StartupFinished, &form, [&] { form.AddVideoFiles({clip}); },
            Qt::QueuedConnection);
        QObject::connect(&form, &TForm1::CodecLibrariesFailed, [&] { failed = true; });
        FirstPaintWatch watch(&form);
        form.show();

        const auto shown = [&form](const QString& path) { return showsPath(form, path); };
        ASSERT_TRUE(testing::WaitUntil([&] { return failed || shown(clip); }));
        EXPECT_TRUE(watch.painted);
        EXPECT_FALSE(watch.boundAtFirstPaint) << "the window is painted before the binding";
        EXPECT_EQ(failed, row.refusedAfterPaint);
        EXPECT_EQ(form.StartupFailed(), row.refusedAfterPaint);
        EXPECT_EQ(CodecLibrariesBound(), !row.refusedAfterPaint);
        EXPECT_EQ(dialogs.messages, row.refusedAfterPaint ? QStringList{missing} : QStringList{});
        if (row.refusedAfterPaint) {
            // Nothing reaches the engine after the refusal.
            form.AddVideoFiles({clip});
            EXPECT_FALSE(shown(clip));
            EXPECT_EQ(dialogs.messages.size(), 1);
        }
    }
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

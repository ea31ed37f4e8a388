// The settings store: any bytes as the settings file. The window restores
// from it as it does at start-up; what it shows then must survive storing
// (as a close does) and restoring again unchanged, whatever the file held.
#include "fuzz/fuzz_support.h"

#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/user_dialogs.h"
#include "tests/support/main_window_probe.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>

#include <filesystem>
#include <vector>

using namespace clipmora;
namespace fs = std::filesystem;

namespace {

// No dialog may wait for a user: messages are dropped, nothing is chosen.
class NoDialogs : public UserDialogs {
public:
    void Information(QWidget*, const QString&) override {}
    QStringList OpenVideoFiles(QWidget*, const QString&, const QString&) override { return {}; }
    bool ChooseFolder(QWidget*, const TFolderBrowseRequest&, QString&) override { return false; }
    void RunModal(QDialog&) override {}
    void ReportException(QWidget*, const QString&) override {}
    bool OpenDocument(const QUrl&) override { return false; }
};

// What the window shows of its stored values.
std::vector<QString> shownValues(TForm1& form)
{
    std::vector<QString> values{form.EditOutputFolder()->text()};
    for (const char* combo : {"ComboOutputFormat", "ComboVideoQuality", "ComboAudioQuality"})
        values.push_back(QString::number(Find<QComboBox>(form, combo)->currentIndex()));
    values.push_back(QString::number(form.Profile().ComboLetterBox.Selected()));
    for (QCheckBox* box : Find<TForm2OptionsForm>(form, "Form2OptionsForm")->findChildren<QCheckBox*>())
        values.push_back(box->objectName() + '=' + QString::number(box->isChecked()));
    return values;
}

TForm1* form = nullptr;

// Restores the stored values and returns what the window shows.
std::vector<QString> restore()
{
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->LoadSettings();
    return shownValues(*form);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    fuzz::PrepareLibraries();
    new QApplication(*argc, *argv);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    UserDialogs::install(new NoDialogs);
    form = new TForm1(QStringLiteral(CLIPMORA_BIN_DIR));
    if (form->StartupFailed())
        std::abort();

    // Once before the inputs, so that what the libraries set up for good on
    // first use is not taken for a leak of the first input.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(fuzz::ScratchFolder()));
    restore();
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->SaveSettings();
    restore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // A folder of its own for each input, so no cached reading of an
    // earlier file can stand in for this one.
    static int number = 0;
    const fs::path folder = fs::path(fuzz::ScratchFolder()) / ("settings-" + std::to_string(++number));
    fs::create_directories(folder / "Velmar");
    fuzz::WriteScratch(fs::relative(folder / "Velmar" / "Clipmora.ini", fuzz::ScratchFolder()),
                       data, size);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(folder.string()));
    const std::vector<QString> first = restore();
    if (!Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->SaveSettings())
        __builtin_trap();  // a store in a folder of our own can be written
    if (restore() != first)
        __builtin_trap();  // what was shown did not survive storing and restoring
    fs::remove_all(folder);
    return 0;
}

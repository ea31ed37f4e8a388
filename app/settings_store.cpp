// The stored settings: values in the per-user store, read once at
// start-up and written when the main window closes.
#include "app/main_window.h"
#include "app/options_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSettings>

#include <optional>

namespace clipmora {
namespace {

QSettings openStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Velmar"),
                     QStringLiteral("Clipmora"));
}

// An integer value; nothing when it is missing or does not read as one.
std::optional<int> readInteger(const QSettings& store, const QString& name)
{
    const QVariant value = store.value(name);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

}  // namespace

void TForm2OptionsForm::restoreWindowPlacement(const QSettings& store)
{
    // The window's size came later still; without it the window opens at
    // its specified size, and a size too small for it reads as that size.
    const std::optional<int> width = readInteger(store, QStringLiteral("WindowWidth"));
    const std::optional<int> height = readInteger(store, QStringLiteral("WindowHeight"));
    const std::optional<int> maximized = readInteger(store, QStringLiteral("WindowMaximized"));
    mainForm_->RestorePlacement(QSize(width.value_or(0), height.value_or(0)),
                                maximized && *maximized != 0);
}

void TForm2OptionsForm::LoadSettings()
{
    TProfileControls& profile = mainForm_->Profile();
    {
        const QSettings store = openStore();
        mainForm_->EditOutputFolder()->setText(
            store.value(QStringLiteral("Output Folder")).toString());
        // Added later than the others: their absence means their default
        // (kept streams off, an exact cut on, the timeline strip on, no
        // folder of a last video) and
        // is no reason to store the defaults.
        const std::optional<int> keep = readInteger(store, QStringLiteral("KeepOriginalStreams"));
        checkBoxKeepOriginalStreams_->setChecked(keep && *keep != 0);
        const std::optional<int> exact = readInteger(store, QStringLiteral("ExactToTheFrame"));
        checkBoxExactCut_->setChecked(!exact || *exact != 0);
        const std::optional<int> strip = readInteger(store, QStringLiteral("TimelineStrip"));
        checkBoxTimelineStrip_->setChecked(!strip || *strip != 0);
        mainForm_->SetLastVideoFolder(store.value(QStringLiteral("Last Video Folder")).toString());
        restoreWindowPlacement(store);

        const auto loaded = [&]() -> bool {
            const std::optional<int> format = readInteger(store, QStringLiteral("ComboOutputFormat"));
            if (!format)
                return false;
            // An index the list does not hold (a store from another
            // version, an edit by hand) reads as the first-run default.
            if (*format >= profile.ComboOutputFormat.Count())
                profile.ComboOutputFormat.Select(0);
            else if (*format >= 0)
                profile.ComboOutputFormat.Select(*format);

            const std::optional<int> overwrite = readInteger(store, QStringLiteral("Overwrite"));
            if (!overwrite)
                return false;
            checkBoxOverwrite_->setChecked(*overwrite != 0);
            const std::optional<int> play = readInteger(store, QStringLiteral("PlayVideoFile"));
            if (!play)
                return false;
            checkBoxPlayVideoFile_->setChecked(*play != 0);

            const struct {
                const char* name;
                TItemList& list;
            } indexed[] = {{"LetterBox", profile.ComboLetterBox},
                           {"VideoQuality", profile.ComboVideoQuality},
                           {"AudioQuality", profile.ComboAudioQuality}};
            for (const auto& entry : indexed) {
                const std::optional<int> index = readInteger(store, QLatin1String(entry.name));
                if (!index)
                    return false;
                if (*index >= 0)
                    entry.list.Select(*index);
            }
            return true;
        }();
        mainForm_->RefreshProfileCombos();
        if (loaded)
            return;
    }
    SaveSettings();
}

bool TForm2OptionsForm::SaveSettings()
{
    const TProfileControls& profile = mainForm_->Profile();
    QSettings store = openStore();
    store.setValue(QStringLiteral("Output Folder"), mainForm_->EditOutputFolder()->text());
    store.setValue(QStringLiteral("ComboOutputFormat"), profile.ComboOutputFormat.Selected());
    store.setValue(QStringLiteral("Overwrite"), checkBoxOverwrite_->isChecked() ? 1 : 0);
    store.setValue(QStringLiteral("PlayVideoFile"), checkBoxPlayVideoFile_->isChecked() ? 1 : 0);
    store.setValue(QStringLiteral("LetterBox"), profile.ComboLetterBox.Selected());
    store.setValue(QStringLiteral("VideoQuality"), profile.ComboVideoQuality.Selected());
    store.setValue(QStringLiteral("AudioQuality"), profile.ComboAudioQuality.Selected());
    store.setValue(QStringLiteral("KeepOriginalStreams"),
                   checkBoxKeepOriginalStreams_->isChecked() ? 1 : 0);
    store.setValue(QStringLiteral("ExactToTheFrame"), checkBoxExactCut_->isChecked() ? 1 : 0);
    store.setValue(QStringLiteral("TimelineStrip"), checkBoxTimelineStrip_->isChecked() ? 1 : 0);
    store.setValue(QStringLiteral("Last Video Folder"), mainForm_->LastVideoFolder());
    store.setValue(QStringLiteral("WindowWidth"), mainForm_->NormalSize().width());
    store.setValue(QStringLiteral("WindowHeight"), mainForm_->NormalSize().height());
    store.setValue(QStringLiteral("WindowMaximized"), mainForm_->isMaximized() ? 1 : 0);
    store.sync();
    // A store read with lines the library could not parse keeps saying so
    // (FormatError) although it has just been written back whole; only a
    // failed write is a failure to save.
    return store.status() != QSettings::AccessError;
}

}  // namespace clipmora

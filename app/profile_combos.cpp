// The profile drop-downs: they show the profile lists (the one source of
// truth) and turn the user's picks into selections and change steps.
#include "app/main_window.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QStandardItemModel>

namespace clipmora {
namespace {

void showList(QComboBox* combo, const TItemList& list)
{
    const QSignalBlocker blocker(combo);
    QStringList texts;
    texts.reserve(list.Count());
    for (const std::string& item : list.Items())
        texts << QString::fromStdString(item);
    bool same = combo->count() == texts.size();
    for (int index = 0; same && index < texts.size(); ++index)
        same = combo->itemText(index) == texts[index];
    if (!same) {
        combo->clear();
        combo->addItems(texts);
    }
    combo->setCurrentIndex(list.Selected());
}

}  // namespace

void TForm1::RefreshProfileCombos()
{
    showList(comboOutputFormat_, profile_.ComboOutputFormat);
    // The separator lines cannot be picked: the wheel and the arrow keys
    // pass over them and a click on one leaves the list as it was.
    if (auto* rows = qobject_cast<QStandardItemModel*>(comboOutputFormat_->model()))
        for (int index = 0; index < rows->rowCount(); ++index)
            rows->item(index)->setEnabled(
                !IsFormatSeparator(comboOutputFormat_->itemText(index).toStdString()));
    showList(comboVideoSize_, profile_.ComboVideoSize);
    showList(comboVideoFramerate_, profile_.ComboVideoFramerate);
    showList(comboAudioChannels_, profile_.ComboAudioChannels);
    showList(comboVideoQuality_, profile_.ComboVideoQuality);
    showList(comboAudioQuality_, profile_.ComboAudioQuality);
}

void TForm1::connectProfileCombos()
{
    connect(comboOutputFormat_, &QComboBox::currentIndexChanged, this, &TForm1::formatChanged);
    connect(comboVideoSize_, &QComboBox::currentIndexChanged, this,
            [this](int index) { profile_.ComboVideoSize.Select(index); });
    connect(comboVideoFramerate_, &QComboBox::currentIndexChanged, this,
            [this](int index) { profile_.ComboVideoFramerate.Select(index); });
    connect(comboAudioChannels_, &QComboBox::currentIndexChanged, this,
            [this](int index) { profile_.ComboAudioChannels.Select(index); });
    connect(comboVideoQuality_, &QComboBox::currentIndexChanged, this, [this](int index) {
        profile_.ComboVideoQuality.Select(index);
        qualityChanged();
    });
    connect(comboAudioQuality_, &QComboBox::currentIndexChanged, this, [this](int index) {
        profile_.ComboAudioQuality.Select(index);
        qualityChanged();
    });
}

void TForm1::formatChanged(int index)
{
    profile_.ComboOutputFormat.Select(index);
    FormatChangeStep(profile_);
    RefreshProfileCombos();
}

void TForm1::qualityChanged()
{
    ApplyQualityLevels(profile_);
    RefreshProfileCombos();
}

void TForm1::restoreUserChoices(const std::string& size, const std::string& frameRate,
                                const std::string& channels)
{
    // SelectText keeps the reloaded default when the old text is not offered.
    if (!size.empty())
        profile_.ComboVideoSize.SelectText(size);
    if (!frameRate.empty())
        profile_.ComboVideoFramerate.SelectText(frameRate);
    if (!channels.empty())
        profile_.ComboAudioChannels.SelectText(channels);
}

}  // namespace clipmora

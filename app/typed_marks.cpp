// Marks typed as times: a click on the Start or End panel opens a field over
// it, and the time typed there (seconds, m:ss.mmm or h:mm:ss.mmm) moves the
// thumb to that time and marks it as the mark buttons would, so the frame
// number is rounded the same way. A time that cannot be read, lies past the
// end of the video or puts the end before the start is refused with a
// message, and nothing changes. While a split runs the panels do not open.
#include "app/main_window.h"

#include "app/mark_time_editor.h"
#include "app/user_dialogs.h"
#include "job/segment_marks.h"
#include "widgets/hl_track_bar.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include <cmath>
#include <optional>

namespace clipmora {
namespace {

// A time in the form the field reads back, whatever the user's locale.
QString typableSeconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'g', QLocale::FloatingPointShortest);
}

}  // namespace

void TForm1::buildMarkEditors()
{
    editMarkStart_ = new TMarkTimeEditor(panelStart_, "EditMarkStart");
    editMarkEnd_ = new TMarkTimeEditor(panelEnd_, "EditMarkEnd");
    for (TMarkTimeEditor* editor : {editMarkStart_, editMarkEnd_}) {
        const bool end = editor == editMarkEnd_;
        editor->CanOpen = [this] { return !splitBusy_; };
        editor->OpeningText = [this, end] {
            const QLabel* panel = end ? panelEnd_ : panelStart_;
            if (panel->text().isEmpty())
                return QString();
            return typableSeconds(end ? hlTrackBar1_->SelEnd() : hlTrackBar1_->SelStart());
        };
        editor->OnAccept = [this, end](const QString& text) { typedMark(end, text); };
    }
}

void TForm1::typedMark(bool end, const QString& text)
{
    if (splitBusy_)
        return;
    UserDialogs& dialogs = UserDialogs::current();
    if (editVideoFilename_->text().trimmed().isEmpty()) {
        dialogs.Information(this, QStringLiteral("Please Add A File To Convert!"));
        return;
    }
    // The locale's decimal separator reads as the point.
    QString typed = text;
    const QString decimalPoint = QLocale().decimalPoint();
    if (decimalPoint != QStringLiteral("."))
        typed.replace(decimalPoint, QStringLiteral("."));
    const std::optional<double> seconds = ParseMarkTime(typed.toStdString());
    if (!seconds) {
        dialogs.Information(this, QStringLiteral("\"%1\" is not a time. Type seconds (12.5), "
                                                 "minutes and seconds (1:23.5) or hours, "
                                                 "minutes and seconds (1:02:03.5).")
                                      .arg(text.trimmed()));
        return;
    }
    const int lastMs = hlTrackBar1_->Max();
    const double milliseconds = std::round(*seconds * 1000.0);
    if (milliseconds > lastMs) {
        dialogs.Information(this, QStringLiteral("%1 is past the end of the video (%2 s).")
                                      .arg(text.trimmed(), SecondsText(lastMs)));
        return;
    }
    const int position = static_cast<int>(milliseconds);

    if (end) {
        if (panelStart_->text().trimmed().isEmpty()) {
            dialogs.Information(this, QStringLiteral("Please choose a START position"));
            return;
        }
        if (position < hlTrackBar1_->SelStart()) {
            dialogs.Information(this, QStringLiteral("The end cannot be before the start (%1 s).")
                                          .arg(SecondsText(hlTrackBar1_->SelStart())));
            return;
        }
        SeekTimeline(position);
        MarkEndClick();
        return;
    }
    // A typed start keeps an end that stays after it; without an end it
    // marks as the button does, highlighting to the end of the file.
    if (panelEnd_->text().isEmpty()) {
        SeekTimeline(position);
        MarkStartClick();
        return;
    }
    if (position > hlTrackBar1_->SelEnd()) {
        dialogs.Information(this, QStringLiteral("The start cannot be after the end (%1 s).")
                                      .arg(SecondsText(hlTrackBar1_->SelEnd())));
        return;
    }
    SeekTimeline(position);
    placeStartMark(position);
}

}  // namespace clipmora

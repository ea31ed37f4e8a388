// TMarkTimeEditor: the field in which a mark's time is typed. It lies over
// the mark's read-out panel and is hidden until the panel is clicked; then it
// shows the mark's time, selected, for the user to type over. Return hands
// the text to the owner and closes the field; Esc, or the focus going
// elsewhere, closes it without a word. Closed, the panel shows what it showed
// before.
//
// Threads: GUI thread only.
#pragma once

#include <QLineEdit>
#include <QPointer>

#include <functional>

class QLabel;

namespace clipmora {

class TMarkTimeEditor : public QLineEdit {
    Q_OBJECT

public:
    // A child of `panel`, covering it, named `name`.
    TMarkTimeEditor(QLabel* panel, const char* name);

    // Asked when the panel is clicked; false keeps the field closed.
    std::function<bool()> CanOpen;
    // The text the field opens with.
    std::function<QString()> OpeningText;
    // The text typed when Return was pressed; the field has closed already.
    std::function<void(const QString& text)> OnAccept;

    // Opens the field over the panel with the keyboard's focus, as a click
    // on the panel does (when CanOpen allows).
    void Open();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void close();

    QLabel* panel_;
    QPointer<QWidget> returnFocus_;  // had the keyboard when the field opened
};

}  // namespace clipmora

// The typed-time field over a mark's panel.
#include "app/mark_time_editor.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

namespace clipmora {

TMarkTimeEditor::TMarkTimeEditor(QLabel* panel, const char* name)
    : QLineEdit(panel), panel_(panel)
{
    setObjectName(QLatin1String(name));
    setGeometry(panel->rect());
    setAlignment(Qt::AlignCenter);
    setFrame(false);
    setPlaceholderText(QStringLiteral("seconds or m:ss"));
    setToolTip(QStringLiteral("Seconds (12.5), m:ss.mmm or h:mm:ss.mmm; Return sets the mark, "
                              "Esc leaves it"));
    hide();
    panel->installEventFilter(this);
    panel->setCursor(Qt::IBeamCursor);
    panel->setToolTip(QStringLiteral("Click to type the mark's time"));
}

void TMarkTimeEditor::Open()
{
    if (isVisible() || (CanOpen && !CanOpen()))
        return;
    returnFocus_ = QApplication::focusWidget();
    setText(OpeningText ? OpeningText() : QString());
    selectAll();
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
}

void TMarkTimeEditor::close()
{
    if (!isVisible())
        return;
    hide();
    clear();
    // The keyboard goes back where it was before the field opened.
    QWidget* back = returnFocus_ ? returnFocus_.data() : window();
    back->setFocus(Qt::OtherFocusReason);
}

bool TMarkTimeEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == panel_) {
        if (event->type() == QEvent::Resize)
            setGeometry(panel_->rect());
        else if (event->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            Open();
    }
    return QLineEdit::eventFilter(watched, event);
}

bool TMarkTimeEditor::event(QEvent* event)
{
    // Esc belongs to the field while it is open, before any shortcut.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void TMarkTimeEditor::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        if (!isVisible())
            return;
        const QString typed = text();
        close();
        if (OnAccept)
            OnAccept(typed);
        return;
    }
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void TMarkTimeEditor::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // The field's own context menu takes the focus for a moment.
    if (event->reason() != Qt::PopupFocusReason)
        close();
}

}  // namespace clipmora

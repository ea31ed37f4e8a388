// The seam between the window and the dialogs that wait for a person.
//
// The window asks UserDialogs::current() for every message box (and later the
// file and folder choosers); tests install their own answers instead.
#pragma once

#include <QString>

class QWidget;

namespace clipmora {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // A modal message box captioned "Information" with the information icon.
    virtual void Information(QWidget* parent, const QString& text);

    // The installed dialogs (the real ones unless a test installed others).
    static UserDialogs& current();
    // Installs `dialogs` (not owned; null restores the real ones).
    static void install(UserDialogs* dialogs);
};

}  // namespace clipmora

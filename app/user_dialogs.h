// The seam between the window and the dialogs that wait for a person.
//
// The window asks UserDialogs::current() for every message box, the
// open-file dialog, the folder chooser, the modal runs of its own dialogs and
// the documents it hands to the desktop; tests install their own answers.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QUrl;
class QWidget;

namespace clipmora {

struct TFolderBrowseRequest;

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // A modal message box captioned "Information" with the information icon.
    virtual void Information(QWidget* parent, const QString& text);

    // The open-file dialog: existing files only, no read-only box, resizable,
    // several files at once, opening in `folder` (the toolkit's choice when
    // it is empty or gone). Returns the picked paths in order; empty when
    // cancelled.
    virtual QStringList OpenVideoFiles(QWidget* parent, const QString& filter,
                                       const QString& folder);

    // The folder chooser. Returns true with `chosen` set when the user picked
    // a folder.
    virtual bool ChooseFolder(QWidget* parent, const TFolderBrowseRequest& request,
                              QString& chosen);

    // Runs one of the window's own dialogs modally.
    virtual void RunModal(QDialog& dialog);

    // The report of an operation that failed with an exception: a modal
    // error box titled with the program's name, showing the exception's text.
    virtual void ReportException(QWidget* parent, const QString& text);

    // Hands a document or link to the desktop's viewer. False when none took it.
    virtual bool OpenDocument(const QUrl& url);
    // Hands the local file or folder `path` to the desktop's viewer (`url`
    // names it, with a fragment perhaps); when none took it, says so in a
    // message that names the file and the reason. False then.
    bool ShowOnDesktop(QWidget* parent, const QString& path, const QUrl& url);

    // The installed dialogs (the real ones unless a test installed others).
    static UserDialogs& current();
    // Installs `dialogs` (not owned; null restores the real ones).
    static void install(UserDialogs* dialogs);
};

}  // namespace clipmora

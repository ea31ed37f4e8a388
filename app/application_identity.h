// The names the application goes by.
#pragma once

namespace clipmora {

// Names the application "Clipmora" and its maker "Velmar"; the per-user
// settings are stored under these names. No display name is set: Qt would
// append it to the caption of every window, and the captions of the message
// boxes ("Information"), the additional-settings dialog and the folder
// picker read exactly as given. The main window sets its own caption.
// GUI thread, after the application object exists.
void NameApplication();

}  // namespace clipmora

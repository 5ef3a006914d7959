#pragma once

class QApplication;

namespace brevalo {

// Both windows are always dark, whatever the desktop's theme: the Fusion style with a dark
// palette, so menus, dialogs and scroll bars match the faceplates.
void applyDarkAppearance(QApplication& application);

} // namespace brevalo

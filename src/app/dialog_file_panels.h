#pragma once

// The application's answers to storage's pickers: the desktop's own folder and file dialogs,
// opened over the window the user is working in.
//
// Threads: main thread.

#include "capture/file_panels.h"

namespace brevalo {

class DialogFilePanels : public FilePanels
{
public:
    std::optional<QString> chooseFolder(const FolderRequest& request) override;
    std::optional<QString> chooseImage(const ImageRequest& request) override;
};

} // namespace brevalo

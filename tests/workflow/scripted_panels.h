#pragma once

#include "capture/file_panels.h"

#include <deque>

namespace brevalo {

// Folder pickers answer from the queue, then as if cancelled; image pickers are cancelled.
class ScriptedPanels : public FilePanels
{
public:
    std::deque<QString> folders;

    std::optional<QString> chooseFolder(const FolderRequest&) override
    {
        if (folders.empty()) {
            return std::nullopt;
        }
        const QString answer = folders.front();
        folders.pop_front();
        return answer;
    }
    std::optional<QString> chooseImage(const ImageRequest&) override { return std::nullopt; }
};

} // namespace brevalo

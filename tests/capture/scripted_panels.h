#pragma once

#include "capture/file_panels.h"

#include <deque>
#include <vector>

namespace brevalo {

// Answers the pickers from a script (cancelling when it runs out) and remembers what was asked.
class ScriptedPanels : public FilePanels
{
public:
    std::deque<std::optional<QString>> folders;
    std::deque<std::optional<QString>> images;
    std::vector<FolderRequest> folderRequests;

    std::optional<QString> chooseFolder(const FolderRequest& request) override
    {
        folderRequests.push_back(request);
        return next(folders);
    }
    std::optional<QString> chooseImage(const ImageRequest&) override { return next(images); }

private:
    static std::optional<QString> next(std::deque<std::optional<QString>>& answers)
    {
        if (answers.empty()) {
            return std::nullopt;
        }
        const std::optional<QString> answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

} // namespace brevalo

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace brevalo {

// The modal pickers storage opens. The application answers them with its dialogs; tests answer
// them directly. Every call runs on the main thread and returns none when the user cancels.
class FilePanels
{
public:
    virtual ~FilePanels() = default;

    struct FolderRequest
    {
        QString title;
        QString message; // explanatory line under the title; may be empty
        bool canCreateFolders = false;
        QString startDirectory; // empty: the panel's own choice
    };

    struct ImageRequest
    {
        QString title;
        QStringList suffixes; // accepted file types, lower case without the dot
    };

    // An existing folder (absolute path) or none.
    virtual std::optional<QString> chooseFolder(const FolderRequest& request) = 0;
    // An existing file (absolute path) or none.
    virtual std::optional<QString> chooseImage(const ImageRequest& request) = 0;
};

} // namespace brevalo

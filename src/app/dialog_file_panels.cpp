#include "app/dialog_file_panels.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace brevalo {

std::optional<QString> DialogFilePanels::chooseFolder(const FolderRequest& request)
{
    QFileDialog dialog(QApplication::activeWindow(), request.title, request.startDirectory);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Without folder creation the dialog offers no "new folder" command.
    dialog.setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
    if (!request.message.isEmpty()) {
        dialog.setLabelText(QFileDialog::LookIn, request.message);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QFileInfo chosen(dialog.selectedFiles().front());
    if (!chosen.isDir()) {
        return std::nullopt;
    }
    return chosen.absoluteFilePath();
}

std::optional<QString> DialogFilePanels::chooseImage(const ImageRequest& request)
{
    QStringList patterns;
    for (const QString& suffix : request.suffixes) {
        patterns << QStringLiteral("*.") + suffix << QStringLiteral("*.") + suffix.toUpper();
    }
    const QString filter =
        patterns.isEmpty() ? QString() : QStringLiteral("Images (%1)").arg(patterns.join(' '));
    const QString path =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), request.title, {}, filter);
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return std::nullopt;
    }
    return QFileInfo(path).absoluteFilePath();
}

} // namespace brevalo

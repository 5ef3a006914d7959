#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace brevalo {

// Called after the temporary file is complete and on disk, just before it replaces the target;
// the path is the temporary file's. Tests use it to interrupt a write at its most delicate point.
using BeforeReplaceHook = std::function<void(const QString& temporaryPath)>;

// Replaces `path` with `bytes` so that a reader sees either the old or the new content, never
// a mix, and a crash leaves one of the two on disk: the bytes go to a hidden temporary file in
// the same folder, which is flushed with fsync, renamed over the target, and the folder is
// flushed so the rename itself survives. On failure the temporary file is removed and the old
// file is untouched. Throws CaptureError with the system's description of the failed step.
void writeFileAtomically(const QString& path, const QByteArray& bytes,
                         const BeforeReplaceHook& beforeReplace = {});

// Creates exactly one folder level and refuses an existing name, so nothing is ever merged into
// a folder someone else made (a new project, an export's temporary folder). Throws CaptureError
// "The folder “<name>” could not be created: <reason>."
void makeDirectory(const QString& path);

} // namespace brevalo

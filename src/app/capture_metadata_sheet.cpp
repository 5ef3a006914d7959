#include "app/capture_metadata_sheet.h"

namespace brevalo {

CaptureMetadataSheet::CaptureMetadataSheet(CaptureViewModel& capture, bool isNew, QWidget* parent)
    : QDialog(parent), capture_(capture), isNew_(isNew)
{}

} // namespace brevalo

#include "app/toolkit/qt/file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

#include "app/toolkit/qt/convert.h"

namespace toolkit::qt {

bool QtFileDialog::Open() {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!fileName_.isEmpty()) {
        dialog.setDirectory(QFileInfo(fileName_).absolutePath());
        dialog.selectFile(fileName_);
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return false;
    fileName_ = QFileInfo(chosen.first()).absoluteFilePath();
    return true;
}

Text QtFileDialog::FileName() const {
    return ToText(fileName_);
}

}  // namespace toolkit::qt

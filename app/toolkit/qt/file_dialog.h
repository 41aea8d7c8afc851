// The open-file dialog: one existing file, every file listed, the system's default title; its
// file name carries the last confirmed choice from one opening to the next.
#pragma once

#include <QString>
#include <QWidget>

#include "app/toolkit/toolkit.h"

namespace toolkit::qt {

class QtFileDialog : public FileDialog {
  public:
    explicit QtFileDialog(QWidget* parent) : parent_(parent) {}

    bool Open() override;
    Text FileName() const override;

  private:
    QWidget* parent_;
    QString fileName_;
};

}  // namespace toolkit::qt

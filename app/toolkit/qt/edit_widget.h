// The edit box: multi-line, word-wrapping, no scroll bars, editable, black on white, selection
// hidden while it has no focus, no length limit.
#pragma once

#include <QPlainTextEdit>

#include "app/toolkit/toolkit.h"

namespace toolkit::qt {

class EditWidget : public QPlainTextEdit, public EditBox {
  public:
    explicit EditWidget(QWidget* parent);

    void SetText(const Text& text) override;
    Text GetText() const override;
};

}  // namespace toolkit::qt

#include "app/toolkit/qt/edit_widget.h"

#include "app/toolkit/qt/convert.h"

namespace toolkit::qt {

EditWidget::EditWidget(QWidget* parent) : QPlainTextEdit(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Words wrap at blanks; a word longer than a line breaks where the line ends.
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setReadOnly(false);
    setTabChangesFocus(false);

    QPalette colours = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Base, Qt::white);
        colours.setColor(group, QPalette::Text, Qt::black);
    }
    // Without focus the selection looks like plain text: hidden.
    colours.setColor(QPalette::Inactive, QPalette::Highlight, Qt::white);
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
    setPalette(colours);
}

void EditWidget::SetText(const Text& text) {
    setPlainText(ToQString(text));
}

Text EditWidget::GetText() const {
    return ToText(toPlainText());
}

}  // namespace toolkit::qt

#include "app/toolkit/qt/convert.h"

namespace toolkit::qt {

QString ToQString(const Text& text) {
    if (TextLength(text) == 0) return QString();
    int units = 0;
    const Bytes wide = TextToWide(text, textCodePage, &units);
    const unsigned char* data = wide.data();
    QString result(units, Qt::Uninitialized);
    for (int i = 0; i < units; ++i)
        result[i] = QChar(ushort(data[2 * i] | (data[2 * i + 1] << 8)));
    return result;
}

Text ToText(const QString& text) {
    if (text.isEmpty()) return Text();
    QByteArray wide(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    wide.append(2, '\0');
    return WideToText(Bytes(wide.constData(), int(wide.size())), textCodePage);
}

QByteArray RawView(const Bytes& bytes) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace toolkit::qt

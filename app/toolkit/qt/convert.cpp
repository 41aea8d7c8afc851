#include "app/toolkit/qt/convert.h"

namespace toolkit::qt {
namespace {

constexpr int kCodePage = 936;

}  // namespace

QString ToQString(const Text& text) {
    if (TextLength(text) == 0) return QString();
    int units = 0;
    const Bytes wide = TextToWide(text, kCodePage, units);
    const unsigned char* data = BytesData(wide);
    QString result(units, Qt::Uninitialized);
    for (int i = 0; i < units; ++i)
        result[i] = QChar(ushort(data[2 * i] | (data[2 * i + 1] << 8)));
    return result;
}

Text ToText(const QString& text) {
    if (text.isEmpty()) return Text();
    QByteArray wide(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    wide.append(2, '\0');
    int written = 0;
    return WideToText(PointerToBytes(wide.constData(), int(wide.size())), kCodePage, written);
}

QByteArray RawView(const Bytes& bytes) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(BytesData(bytes)),
                                   BytesLength(bytes));
}

}  // namespace toolkit::qt

// Conversions between the contract's values (code page 936 `Text`, `Bytes`) and Qt's.
#pragma once

#include <QByteArray>
#include <QString>

#include "text/text.h"

namespace toolkit::qt {

QString ToQString(const Text& text);
// Characters code page 936 cannot hold are lost, as in any conversion to it.
Text ToText(const QString& text);
// A view of the bytes without copying them; valid while `bytes` lives unchanged.
QByteArray RawView(const Bytes& bytes);

}  // namespace toolkit::qt

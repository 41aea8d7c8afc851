// Texts between the tool (code page 936) and the wide functions of Windows, so that labels are
// right on a Windows of any language.
#pragma once

#include "text/text.h"

#include <string>

namespace toolkit::win32 {

std::wstring ToWide(const Text& text);
Text FromWide(const wchar_t* wide);

}  // namespace toolkit::win32

#pragma once

#include <cstdint>

#include "CString.h"

// The number a control's text stands for, read as plain decimal: leading white space skipped, an optional sign,
// then digits up to the first other character; 0 when there are no digits. A value outside the 32-bit signed range
// becomes the nearest end of the range, so any text converts without failing.
std::int32_t ParseDecimalText(const CString& text);

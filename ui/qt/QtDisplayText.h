#pragma once

#include <QString>

// The text as a label or a message box shows it: line breaks written as CR LF or as a lone CR become plain new
// lines. The program's texts keep the line breaks they were written with; only what Qt shows is converted.
QString DisplayText(QString text);

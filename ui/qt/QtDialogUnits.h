#pragma once

#include <string_view>

#include <QFont>
#include <QRect>

// Converts a template's dialog units to pixels. The horizontal unit is a quarter of the font's average character
// width and the vertical unit an eighth of its height, so a dialog keeps its proportions with whatever font stands
// in for the one the template names.
class CQtDialogUnits {
public:
    explicit CQtDialogUnits(const QFont& font);

    // The font a template asks for, with our substitutions in place.
    static QFont DialogFont(std::string_view name, int points);
    // Registers the fonts that stand in for the ones the templates name (once per process is enough).
    static void InstallFontSubstitutions();

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(int x, int y, int cx, int cy) const;

private:
    int m_baseX;
    int m_baseY;
};

#include "QtListBox.h"

#include <algorithm>
#include <cstring>

namespace {

// Each code point folded on its own, the way a comparison without regard to case folds both sides. Simple case
// folding keeps a character in its plane, so a folded text has as many UTF-16 units as the text and a prefix of
// the text folds to a prefix of the folded text.
void AppendFolded(const QString& text, std::vector<char16_t>& out) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar unit = text.at(i);
        if (unit.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(unit, text.at(i + 1)));
            out.push_back(QChar::highSurrogate(folded));
            out.push_back(QChar::lowSurrogate(folded));
            ++i;
        } else {
            out.push_back(static_cast<char16_t>(QChar::toCaseFolded(char32_t{unit.unicode()})));
        }
    }
}

} // namespace

CQtListBox::CQtListBox(QWidget* parent) : QListWidget(parent) {}

QItemSelectionModel::SelectionFlags CQtListBox::selectionCommand(const QModelIndex& index, const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (command.testFlag(QItemSelectionModel::Deselect) || command.testFlag(QItemSelectionModel::Toggle)) {
        return QItemSelectionModel::NoUpdate;
    }
    return command;
}

int CQtListBox::InsertRow(int row, const QString& text) {
    std::vector<char16_t> key;
    AppendFolded(text, key);
    const auto at = static_cast<std::size_t>(row);
    const auto length = static_cast<std::uint32_t>(key.size());
    m_keys.insert(m_keys.begin() + m_keyStarts[at], key.begin(), key.end());
    m_keyStarts.insert(m_keyStarts.begin() + static_cast<std::ptrdiff_t>(at) + 1, m_keyStarts[at] + length);
    std::for_each(m_keyStarts.begin() + static_cast<std::ptrdiff_t>(at) + 2, m_keyStarts.end(),
                  [length](std::uint32_t& start) { start += length; });
    insertItem(row, text);
    return row;
}

int CQtListBox::AppendRows(const QStringList& texts) {
    m_keyStarts.reserve(m_keyStarts.size() + static_cast<std::size_t>(texts.size()));
    for (const QString& text : texts) {
        AppendFolded(text, m_keys);
        m_keyStarts.push_back(static_cast<std::uint32_t>(m_keys.size()));
    }
    addItems(texts);
    return count();
}

int CQtListBox::FindPrefix(int startAfter, const QString& prefix) const {
    // Rows put in past InsertRow and AppendRows have no key and are never found (nor read out of bounds).
    const int rows = std::min(count(), static_cast<int>(m_keyStarts.size()) - 1);
    const int start = (startAfter < -1 || startAfter >= rows) ? -1 : startAfter;
    std::vector<char16_t> wanted;
    AppendFolded(prefix, wanted);
    if (wanted.empty()) {
        return rows > 0 ? (start + 1) % rows : -1;
    }
    const std::size_t bytes = wanted.size() * sizeof(char16_t);
    for (int step = 1; step <= rows; ++step) {
        const auto row = static_cast<std::size_t>((start + step) % rows);
        const std::uint32_t begin = m_keyStarts[row];
        if (m_keyStarts[row + 1] - begin >= wanted.size() &&
            std::memcmp(m_keys.data() + begin, wanted.data(), bytes) == 0) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

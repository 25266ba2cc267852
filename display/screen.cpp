#include "display/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace display {

namespace {
Screen::Row blankRow() {
    Screen::Row row;
    row.fill(' ');
    return row;
}
} // namespace

Screen::Screen(Mode mode, bool cursorShown, Variant variant)
    : m_style(variant.style), m_lateWrap(variant.lateWrap), m_cursorShown(cursorShown),
      m_mode(mode) {
    m_cells.fill(blankRow());
    for (Styles& styles : m_styles)
        styles.fill(m_style);
}

bool Screen::operator==(const Screen& o) const {
    return m_row == o.m_row && m_column == o.m_column && m_cursorShown == o.m_cursorShown &&
           m_mode == o.m_mode && m_brightness == o.m_brightness && m_blink == o.m_blink &&
           m_reversed == o.m_reversed && sameCells(o) &&
           bytes::same<sizeof m_styles>(m_styles.data(), o.m_styles.data()) &&
           m_marquee == o.m_marquee;
}

bool Screen::sameState(const Screen& o) const {
    return m_atEnd == o.m_atEnd && m_style == o.m_style && m_windowRow == o.m_windowRow &&
           m_windowFirst == o.m_windowFirst && m_windowLast == o.m_windowLast &&
           m_marquee.style == o.m_marquee.style && *this == o;
}

void Screen::setMode(Mode mode) {
    m_mode = mode;
    m_atEnd = false;
}

void Screen::setScrollWindow(int row, int first, int last) {
    m_windowRow = row;
    m_windowFirst = row < 0 ? 0 : first;
    m_windowLast = row < 0 ? kColumns - 1 : last;
    m_atEnd = false;
}

void Screen::shiftLeft() {
    Row& r = m_cells[size_t(m_row)];
    Styles& st = m_styles[size_t(m_row)];
    if (!inWindow()) { // the whole row: every load before any store, in words
        static_assert(kColumns == 20, "a row is moved as 8 + 8 + 4 bytes");
        const auto shift = [](auto& row, unsigned char last) {
            std::uint64_t a, b;
            std::uint32_t c;
            std::memcpy(&a, &row[1], 8);
            std::memcpy(&b, &row[9], 8);
            std::memcpy(&c, &row[16], 4);
            std::memcpy(&row[0], &a, 8);
            std::memcpy(&row[8], &b, 8);
            std::memcpy(&row[15], &c, 4);
            row[19] = char(last);
        };
        shift(st, st[0]);
        shift(r, ' ');
        return;
    }
    const size_t first = size_t(m_windowFirst), last = size_t(m_windowLast);
    const unsigned char out = st[first]; // the blank keeps the style of the cell pushed out
    std::memmove(&r[first], &r[first + 1], last - first);
    std::memmove(&st[first], &st[first + 1], last - first);
    r[last] = ' ';
    st[last] = out;
}

void Screen::shiftRight() {
    const size_t first = size_t(firstColumn()), last = size_t(lastColumn());
    Row& r = m_cells[size_t(m_row)];
    Styles& st = m_styles[size_t(m_row)];
    const unsigned char out = st[last];
    std::memmove(&r[first + 1], &r[first], last - first);
    std::memmove(&st[first + 1], &st[first], last - first);
    r[first] = ' ';
    st[first] = out;
}

void Screen::scrollUp() {
    m_cells[0] = m_cells[1];
    m_styles[0] = m_styles[1];
    clearRow(1);
}

void Screen::scrollDown() {
    m_cells[1] = m_cells[0];
    m_styles[1] = m_styles[0];
    clearRow(0);
}

void Screen::write(int row, int column, QByteArrayView text) {
    for (qsizetype i = 0; i < text.size() && column + i < kColumns; ++i) {
        m_cells[size_t(row)][size_t(column + i)] = text[i];
        m_styles[size_t(row)][size_t(column + i)] = m_style;
        m_drewHigh |= uchar(text[i]) >= 0x80;
    }
}

void Screen::putAtEdge(char c) {
    if (m_mode == Mode::HorizontalScroll && (m_column == lastColumn() || !m_atEnd)) {
        const bool edge = m_column == lastColumn();
        if (edge && m_atEnd)
            shiftLeft();
        m_cells[size_t(m_row)][size_t(m_column)] = c;
        m_styles[size_t(m_row)][size_t(m_column)] = m_style;
        m_drewHigh |= uchar(c) >= 0x80;
        m_atEnd = edge;
        if (!edge) // short of the edge: the wrap plays no part
            ++m_column;
        return;
    }
    m_wrapConsulted = true;
    if (m_lateWrap && m_atEnd) // the wrap that waited for this character
        right();
    m_cells[size_t(m_row)][size_t(m_column)] = c;
    m_styles[size_t(m_row)][size_t(m_column)] = m_style;
    m_drewHigh |= uchar(c) >= 0x80;
    m_atEnd = m_lateWrap && m_mode != Mode::HorizontalScroll && m_column == kColumns - 1;
    if (m_atEnd)
        return;
    if (m_mode == Mode::HorizontalScroll) {
        ++m_column;
        return;
    }
    right();
}

void Screen::putRunAtScrollEdge(const char* text, qsizetype n) {
    // Each character but a first that finds the last column unwritten moves the row, or the
    // window, left under the cursor: what stays of it moves left at once, and the last
    // characters fill the end. A blank moved in takes the style of the cell pushed out only
    // until the next character covers it.
    const int first = firstColumn(), last = m_column, width = last - first + 1;
    const qsizetype shifts = m_atEnd ? n : n - 1;
    Row& r = m_cells[size_t(m_row)];
    Styles& st = m_styles[size_t(m_row)];
    const qsizetype drawn = qMin<qsizetype>(n, width); // of the characters, those that stay
    if (const qsizetype kept = width - drawn; kept > 0) {
        bytes::move(&r[size_t(first)], &r[size_t(first + shifts)], size_t(kept));
        bytes::move(&st[size_t(first)], &st[size_t(first + shifts)], size_t(kept));
    }
    bytes::move(&r[size_t(last + 1 - drawn)], text + n - drawn, size_t(drawn));
    bytes::fill(&st[size_t(last + 1 - drawn)], m_style, size_t(drawn));
    m_drewHigh |= anyHigh(text, n);
    m_atEnd = true;
}

bool Screen::moveTo(int row, int column) {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns)
        return false;
    m_row = row;
    m_column = column;
    m_atEnd = false;
    return true;
}

void Screen::right() {
    m_atEnd = false;
    if (m_column + 1 < kColumns &&
        !(m_mode == Mode::HorizontalScroll && m_column == lastColumn())) {
        ++m_column;
        return;
    }
    switch (m_mode) {
    case Mode::Overwrite:
        m_column = 0;
        m_row = (m_row + 1) % kRows;
        break;
    case Mode::VerticalScroll:
        m_column = 0;
        if (m_row == kRows - 1)
            scrollUp();
        else
            ++m_row;
        break;
    case Mode::HorizontalScroll:
        shiftLeft();
        break;
    }
}

void Screen::backWrapping(bool erase) {
    m_atEnd = false;
    if (m_column > 0) {
        --m_column;
    } else {
        m_column = kColumns - 1;
        m_row = (m_row + kRows - 1) % kRows;
    }
    if (erase)
        write(m_row, m_column, " ");
}

void Screen::left() {
    m_atEnd = false;
    if (m_mode == Mode::HorizontalScroll) {
        if (m_column == firstColumn())
            shiftRight();
        else if (m_column > 0)
            --m_column;
        return;
    }
    if (m_mode == Mode::VerticalScroll && m_row == 0 && m_column == 0) {
        scrollDown();
        m_column = kColumns - 1;
        return;
    }
    backWrapping(false);
}

void Screen::down() {
    m_atEnd = false;
    if (m_mode == Mode::HorizontalScroll)
        return;
    if (m_row == kRows - 1 && m_mode == Mode::VerticalScroll)
        scrollUp();
    else
        m_row = (m_row + 1) % kRows;
}

void Screen::up() {
    m_atEnd = false;
    if (m_mode == Mode::HorizontalScroll)
        return;
    if (m_row == 0 && m_mode == Mode::VerticalScroll)
        scrollDown();
    else
        m_row = (m_row + kRows - 1) % kRows;
}

void Screen::clear() {
    m_cells.fill(blankRow());
    home();
}

void Screen::clearRow(int row) {
    m_cells[size_t(row)] = blankRow();
}

void Screen::setRow(int row, QByteArrayView data) {
    clearRow(row);
    draw(row, 0, data);
}

void Screen::draw(int row, int column, QByteArrayView text) {
    write(row, column, text);
}

void Screen::startMarquee(int row, const QByteArray& text, bool once, bool always) {
    m_marquee = {};
    if (always || text.size() > kColumns)
        m_marquee = {row, text, m_style, 0, once};
    setRow(row, text.left(kColumns));
}

void Screen::showMarquee() {
    // The message loops with one blank between its end and its start again.
    const QByteArray loop = QByteArray(m_marquee.text).append(' ');
    Row& r = m_cells[size_t(m_marquee.row)];
    m_styles[size_t(m_marquee.row)].fill(m_marquee.style);
    for (int i = 0; i < kColumns; ++i) {
        const int at = m_marquee.offset + i;
        r[size_t(i)] = m_marquee.once ? (at < m_marquee.text.size() ? m_marquee.text[at] : ' ')
                                      : loop[at % loop.size()];
    }
}

bool Screen::tick() {
    if (m_marquee.row < 0 || m_marquee.text.isEmpty())
        return false;
    ++m_marquee.offset;
    if (m_marquee.once && m_marquee.offset > m_marquee.text.size()) {
        clearRow(m_marquee.row);
        m_marquee = {};
        return true;
    }
    if (!m_marquee.once)
        m_marquee.offset %= int(m_marquee.text.size()) + 1;
    showMarquee();
    return true;
}

} // namespace display

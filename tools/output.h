#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>

// The program's output, written so that a signal is honoured whatever the reader does: bytes
// are collected, and flush() writes them only when the descriptor can take them, waiting in
// poll() on it and on the signal watch's pipe. Once a signal has come, a flush gives up and
// what is left is dropped, so that the program can end as the signal asks.
class Output {
public:
    explicit Output(int fd);
    ~Output() { flush(); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    Output& operator<<(const QString& text) {
        pending() += text.toUtf8();
        return *this;
    }
    Output& operator<<(QByteArrayView bytes) {
        pending() += bytes;
        return *this;
    }
    Output& operator<<(const QByteArray& bytes) { return *this << QByteArrayView(bytes); }
    Output& operator<<(const char* text) { return *this << QByteArrayView(text); }
    Output& operator<<(char c) {
        pending() += c;
        return *this;
    }
    Output& operator<<(int n) {
        pending() += QByteArray::number(n);
        return *this;
    }
    // The bytes not yet written, for a writer that appends to them directly.
    QByteArray& pending() {
        if (!m_inArray) {
            m_buffer.resize(m_used);
            m_inArray = true;
        }
        return m_buffer;
    }
    // Room for `most` bytes after those not yet written, for a writer that fills them in
    // place and then calls wrote() with the end of what it wrote.
    char* room(qsizetype most) {
        if (m_inArray) {
            m_used = m_buffer.size();
            m_inArray = false;
        }
        if (Q_UNLIKELY(m_buffer.size() - m_used < most))
            m_buffer.resize(std::max(m_used + most, 2 * m_buffer.size()));
        return m_buffer.data() + m_used;
    }
    void wrote(const char* end) { m_used = end - m_buffer.constData(); }
    // The number of bytes not yet written.
    qsizetype size() const { return m_inArray ? m_buffer.size() : m_used; }
    // False when the bytes could not all be written: the reader has gone or a signal came.
    bool flush();
    // The descriptor is a terminal.
    bool terminal() const;

private:
    int m_fd;
    qsizetype m_chunk; // the most one write() may be given without blocking
    // The bytes not yet written: all of m_buffer while m_inArray, else its first m_used.
    QByteArray m_buffer;
    qsizetype m_used = 0;
    bool m_inArray = true;
};

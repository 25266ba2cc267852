#pragma once

#include <QByteArray>
#include <QString>

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
        m_buffer += text.toUtf8();
        return *this;
    }
    Output& operator<<(QByteArrayView bytes) {
        m_buffer += bytes;
        return *this;
    }
    Output& operator<<(const QByteArray& bytes) { return *this << QByteArrayView(bytes); }
    Output& operator<<(const char* text) { return *this << QByteArrayView(text); }
    Output& operator<<(char c) {
        m_buffer += c;
        return *this;
    }
    Output& operator<<(int n) {
        m_buffer += QByteArray::number(n);
        return *this;
    }
    // The bytes not yet written, for a writer that appends to them directly.
    QByteArray& pending() { return m_buffer; }
    // False when the bytes could not all be written: the reader has gone or a signal came.
    bool flush();
    // The descriptor is a terminal.
    bool terminal() const;

private:
    int m_fd;
    qsizetype m_chunk; // the most one write() may be given without blocking
    QByteArray m_buffer;
};

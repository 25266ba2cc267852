#include "protocol/decoder.h"

#include "protocol/frame.h"

#include <utility>

namespace {

constexpr int kMaxFrameBytes = 4096;

// Bytes that came while no frame had begun.
FrameDecoder::Report stray(const QByteArray& bytes);

FrameDecoder::Report malformed(const QString& problem, const QByteArray& bytes) {
    FrameDecoder::Report r;
    r.problem = problem;
    r.bytes = bytes;
    return r;
}

FrameDecoder::Report stray(const QByteArray& bytes) {
    return malformed(bytes.size() == 1
                         ? QStringLiteral("1 byte that does not start with ESC")
                         : QStringLiteral("%1 bytes that do not start with ESC").arg(bytes.size()),
                     bytes);
}

} // namespace

FrameDecoder::Report FrameDecoder::finish() {
    const QByteArray bytes = m_pending;
    m_pending.clear();
    m_inFrame = false;
    const QByteArray access = frame::kAccessCode.toLatin1();
    if (bytes.size() < frame::kCodeOffset + 1 ||
        bytes.mid(frame::kAccessCodeOffset, access.size()) != access)
        return malformed(QStringLiteral("wrong access code"), bytes);
    if (bytes.size() == frame::kCodeOffset + 1) // ESC, the access code, 0xFF
        return malformed(QStringLiteral("no code digit"), bytes);
    const char digit = bytes.at(frame::kCodeOffset);
    if (!frame::isCodeDigit(uchar(digit)))
        return malformed(QStringLiteral("code digit outside %1 (0x%2)")
                             .arg(frame::codeRange())
                             .arg(uchar(digit), 2, 16, QLatin1Char('0')),
                         bytes);
    const QByteArray data =
        bytes.mid(frame::kScrollOffset, bytes.size() - frame::kScrollOffset - 1);
    if (data.size() > frame::kMaxScrollData)
        return malformed(QStringLiteral("scroll data of %1 bytes, longer than %2")
                             .arg(data.size())
                             .arg(frame::kMaxScrollData),
                         bytes);
    for (qsizetype i = 0; i < data.size(); ++i) {
        const uchar b = uchar(data.at(i));
        if (!frame::isScrollByte(b))
            return malformed(QStringLiteral("control byte 0x%1 at position %2 of the scroll data")
                                 .arg(b, 2, 16, QLatin1Char('0'))
                                 .arg(i + 1),
                             bytes);
    }
    Report r;
    r.valid = true;
    r.code = digit - '0';
    r.scrollData = frame::fromWindows1252(data);
    r.bytes = bytes;
    return r;
}

QList<FrameDecoder::Report> FrameDecoder::feed(const QByteArray& bytes, qint64 nowMs) {
    QList<Report> reports = flush(nowMs);
    for (const char b : bytes) {
        if (m_inFrame && b == frame::kStart) {
            const QByteArray cut = std::exchange(m_pending, {});
            reports << malformed(
                cut.size() == 1
                    ? QStringLiteral("cut off after 1 byte by the ESC of another frame")
                    : QStringLiteral("cut off after %1 bytes by the ESC of another frame")
                          .arg(cut.size()),
                cut);
            m_inFrame = false;
        }
        if (!m_inFrame) {
            if (b != frame::kStart) {
                m_pending.append(b);
                continue;
            }
            if (!m_pending.isEmpty())
                reports << stray(std::exchange(m_pending, {}));
            m_inFrame = true;
            m_startedMs = nowMs;
        }
        m_pending.append(b);
        if (b == frame::kEnd) {
            reports << finish();
        } else if (m_pending.size() > kMaxFrameBytes) { // keep memory bounded
            const QByteArray bytes = std::exchange(m_pending, {});
            reports << malformed(
                QStringLiteral("no end marker (0xFF) after %1 bytes").arg(bytes.size()), bytes);
            m_inFrame = false;
        }
    }
    return reports;
}

QList<FrameDecoder::Report> FrameDecoder::hangUp() {
    if (!m_inFrame)
        return flush(0);
    m_inFrame = false;
    const QByteArray cut = std::exchange(m_pending, {});
    return {malformed(cut.size() == 1
                          ? QStringLiteral("cut off after 1 byte by a hang-up")
                          : QStringLiteral("cut off after %1 bytes by a hang-up").arg(cut.size()),
                      cut)};
}

QList<FrameDecoder::Report> FrameDecoder::flush(qint64 nowMs) {
    QList<Report> reports;
    if (m_inFrame && nowMs - m_startedMs >= kFrameTimeoutMs) {
        reports << malformed(QStringLiteral("no end marker (0xFF) within one second"),
                             std::exchange(m_pending, {}));
        m_inFrame = false;
    } else if (!m_inFrame && !m_pending.isEmpty()) {
        reports << stray(std::exchange(m_pending, {}));
    }
    return reports;
}

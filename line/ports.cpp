#include "line/ports.h"

#include "protocol/escape.h"

bool isDisplaySpeed(const QString& bps) {
    for (const int speed : kDisplaySpeeds)
        if (bps == QString::number(speed))
            return true;
    return false;
}

QString lineSettingsFor(int bps) {
    return QStringLiteral("%1,n,8,1").arg(bps);
}

int comNumberOf(const QString& name) {
    if (name.size() < 4 || name.size() > 12 ||
        !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return -1;
    int n = 0;
    for (const QChar c : QStringView(name).mid(3)) {
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c.unicode() - u'0');
    }
    return n;
}

QString portLabel(int port, const QString& device) {
    if (port == 0)
        return shown(device);
    if (device.isEmpty())
        return QStringLiteral("COM%1").arg(port);
    return QStringLiteral("COM%1 (%2)").arg(port).arg(shown(device));
}

#include "windowsupport.h"

struct VORQTestAccess {
    static QStringList startupTrace(const VORQ& w) { return w.m_startupTrace; }
};

namespace {

PortMap& makeMap(detail::WindowParts& parts, SerialPort::Resolver resolver) {
    parts.ownMap = std::make_unique<PortMap>(std::move(resolver));
    return *parts.ownMap;
}

} // namespace

VORQUnderTest::VORQUnderTest(SerialPort::Resolver resolver)
    : VORQ(makeMap(*this, std::move(resolver)), {}, &notes) {}

VORQUnderTest::VORQUnderTest(PortMap& map, DeviceLister lister)
    : VORQ(map, std::move(lister), &notes) {}

QWidget* VORQUnderTest::control(const QString& name, int index) const {
    for (QWidget* w : findChildren<QWidget*>(name))
        if (w->property("index").toInt() == index)
            return w;
    return nullptr;
}

QStringList VORQUnderTest::startupTrace() const {
    return VORQTestAccess::startupTrace(*this);
}

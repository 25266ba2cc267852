#include "e2e/geometry.h"

#include "window/layout.h"

static const ControlSpec* findRow(const char* name, int index) {
    for (const ControlSpec& c : kControls)
        if (qstrcmp(c.name, name) == 0 && c.index == index)
            return &c;
    return nullptr;
}

QRect controlRect(const char* name, int index) {
    const ControlSpec* c = findRow(name, index);
    if (!c)
        return {};
    QRect r(twipsToPixels(c->left), twipsToPixels(c->top), twipsToPixels(c->width),
            twipsToPixels(c->height));
    if (c->parent)
        r.translate(controlRect(c->parent).topLeft());
    return r;
}

QPoint controlCentre(const char* name, int index) {
    const QRect r = controlRect(name, index);
    const ControlSpec* c = findRow(name, index);
    return c && c->kind == ControlKind::OptionButton ? QPoint(r.left() + 8, r.center().y())
                                                     : r.center();
}

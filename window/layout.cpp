#include "window/layout.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// The caption that `row`'s control shows: empty for a text box, which shows what is typed.
QString captionOf(const ControlSpec& row) {
    return row.kind == ControlKind::TextBox ? QString() : QString::fromUtf8(row.caption);
}

QWidget* create(const ControlSpec& row, QWidget* parent) {
    const QString caption = captionOf(row);
    switch (row.kind) {
    case ControlKind::GroupBox:
        return new QGroupBox(caption, parent);
    case ControlKind::OptionButton:
        return new QRadioButton(caption, parent);
    case ControlKind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        // From the top, as the geometry assumes: a box that lies over the lower part of a
        // label (Text1 over the scroll-data prompt) must not hide its text.
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::TextBox:
        return new QLineEdit(parent);
    case ControlKind::PushButton: {
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(true); // Enter on the focused button presses it
        return button;
    }
    }
    return nullptr;
}

// The caption of a label, a button (option or push) or a group box; empty for others.
QString captionOf(const QWidget* w) {
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (const auto* box = qobject_cast<const QGroupBox*>(w))
        return box->title();
    return {};
}

// Width and height that `w` needs to show its caption whole at its current font.
QSize captionNeeds(const QWidget* w, const QFont& font) {
    const QFontMetrics fm(font);
    const QStyle* style = w->style();
    const int text = fm.horizontalAdvance(captionOf(w));
    if (qobject_cast<const QLabel*>(w))
        return {text, fm.height()};
    if (qobject_cast<const QRadioButton*>(w))
        return {style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
                    style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w) + text + 2,
                fm.height()};
    if (qobject_cast<const QPushButton*>(w))
        return {text + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w),
                fm.height() + 4};
    if (qobject_cast<const QGroupBox*>(w))
        return {text + 16, fm.height()};
    return {0, 0};
}

// Whether every caption of `controls` would be fully visible at `font`.
bool captionsFitAt(const QList<QWidget*>& controls, const QFont& font) {
    return std::all_of(controls.begin(), controls.end(), [&](const QWidget* w) {
        const QSize needs = captionNeeds(w, font);
        return needs.width() <= w->width() && needs.height() <= w->height();
    });
}

} // namespace

bool captionsFit(const QList<QWidget*>& controls) {
    return controls.isEmpty() || captionsFitAt(controls, controls.first()->font());
}

namespace {

// Creates the widget of each row under its parent, in stacking order.
QList<QWidget*> createControls(QWidget* window) {
    QList<QWidget*> widgets;
    std::map<QString, QWidget*> byName; // group boxes, by name, as parents
    for (const ControlSpec& row : kControls) {
        QWidget* parent = row.parent ? byName.at(QString::fromLatin1(row.parent)) : window;
        QWidget* w = create(row, parent);
        w->setObjectName(QString::fromLatin1(row.name));
        w->setProperty("index", row.index);
        w->setGeometry(twipsToPixels(row.left), twipsToPixels(row.top), twipsToPixels(row.width),
                       twipsToPixels(row.height));
        if (row.index < 0)
            byName[w->objectName()] = w;
        widgets.append(w);
    }
    return widgets;
}

// Chains the rows that can take the focus by their tab position.
void orderTabs(const QList<QWidget*>& widgets) {
    QList<std::pair<int, QWidget*>> focusable;
    for (qsizetype i = 0; i < widgets.size(); ++i) {
        if (widgets[i]->focusPolicy() & Qt::TabFocus)
            focusable.append({kControls[static_cast<size_t>(i)].tab, widgets[i]});
    }
    std::sort(focusable.begin(), focusable.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (qsizetype i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i - 1].second, focusable[i].second);
}

// The fitted sizes of earlier starts, one line each: a key, a tab, the size in points. The
// key covers everything the fit depends on: the font, the style, the screen's logical
// resolution and every control's caption and size, as the table gives them.
QString fitCacheFile() {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/vorq/font-fit");
}

QString fitKey(const QWidget* window) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(window->font().toString().toUtf8());
    hash.addData(window->style()->name().toUtf8());
    hash.addData(QByteArray(QByteArray::number(window->logicalDpiX()) + ',' +
                            QByteArray::number(window->logicalDpiY())));
    for (const ControlSpec& row : kControls) {
        hash.addData(QByteArray(captionOf(row).toUtf8() + '\0' +
                                QByteArray::number(twipsToPixels(row.width)) + ',' +
                                QByteArray::number(twipsToPixels(row.height)) + '\0'));
    }
    return QString::fromLatin1(hash.result().toHex());
}

// The cached lines, by key.
QMap<QString, qreal> readFitCache() {
    QMap<QString, qreal> sizes;
    QFile file(fitCacheFile());
    if (!file.open(QIODevice::ReadOnly) || file.size() > 4096)
        return sizes;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split('\t');
        bool ok = false;
        const qreal size = parts.size() == 2 ? parts[1].toDouble(&ok) : 0;
        if (ok && size > 0)
            sizes.insert(QString::fromLatin1(parts[0]), size);
    }
    return sizes;
}

void writeFitCache(QMap<QString, qreal> sizes) {
    while (sizes.size() > 16) // a few desktops and scalings; the first by key go
        sizes.erase(sizes.begin());
    QByteArray text;
    for (auto i = sizes.cbegin(); i != sizes.cend(); ++i)
        text += i.key().toLatin1() + '\t' + QByteArray::number(i.value()) + '\n';
    QDir().mkpath(QFileInfo(fitCacheFile()).absolutePath());
    QSaveFile file(fitCacheFile());
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size())
        static_cast<void>(file.commit());
}

// Gives `window` the largest font, in half points and no larger than its own, at which every
// caption of `widgets` fits. Text widths scale with the size, so one measurement at the
// default size gives the first candidate.
void fitFontByMeasuring(QWidget* window, const QList<QWidget*>& widgets, QFont font, qreal start) {
    qreal worst = 1.0;
    for (const QWidget* w : widgets) {
        const QSize needs = captionNeeds(w, font);
        worst = std::max(
            {worst, qreal(needs.width()) / w->width(), qreal(needs.height()) / w->height()});
    }
    if (worst <= 1.0) // every caption fits at the window's own font, as just measured
        return;
    qreal size = std::floor(start / worst * 2) / 2;
    for (font.setPointSizeF(size); size > 5.0 && !captionsFitAt(widgets, font); size -= 0.5)
        font.setPointSizeF(size - 0.5);
    window->setFont(font);
}

} // namespace

// Measuring loads every glyph of every caption, which is slow, so the size found is kept in
// the user's cache under a key of all it depends on. A kept size is set before the
// controls are made, so that they are made in it instead of each being told of it afterwards.
QList<QWidget*> buildControls(QWidget* window) {
    QFont font = window->font();
    const qreal start = font.pointSizeF() > 0 ? font.pointSizeF() : 9.0;
    const QString key = fitKey(window);
    QMap<QString, qreal> cached = readFitCache();
    const auto hit = cached.constFind(key);
    if (hit != cached.cend() && *hit != start) {
        font.setPointSizeF(*hit);
        window->setFont(font);
    }
    const QList<QWidget*> widgets = createControls(window);
    orderTabs(widgets);
    if (hit == cached.cend()) {
        fitFontByMeasuring(window, widgets, font, start);
        cached.insert(key, window->font().pointSizeF() > 0 ? window->font().pointSizeF() : start);
        writeFitCache(cached);
    }
    return widgets;
}

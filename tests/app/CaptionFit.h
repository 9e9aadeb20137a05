#pragma once
// Whether a window's captions, labels, button texts and column titles are whole in the font in
// use: each text measured against the rectangle its control gives it.
#include "dbctrls/DBGrid.h"
#include "dbctrls/DBText.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStringList>

namespace talvira::test {

/** The texts of `window` that do not fit their controls, one line each ("Label1: ..."). */
inline QStringList cutCaptions(QWidget* window, const QList<QWidget*>& skip = {}) {
    QStringList cut;
    auto name = [](const QWidget* w) { return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName(); };
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (skip.contains(l) || qobject_cast<dbctrls::DBText*>(l) || l->text().isEmpty() || !l->isVisibleTo(window)) continue;
        if (l->parentWidget() && l->parentWidget()->inherits("QStatusBar")) continue;
        const QRect room = l->contentsRect();
        const int flags = int(l->alignment()) | (l->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect need = l->fontMetrics().boundingRect(room, flags, l->text());
        if (need.width() > room.width() || need.height() > room.height())
            cut << QString("%1: \"%2\" needs %3x%4 in %5x%6").arg(name(l), l->text()).arg(need.width()).arg(need.height())
                       .arg(room.width()).arg(room.height());
    }
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (skip.contains(b) || b->text().isEmpty() || !b->isVisibleTo(window)) continue;
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        const int room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b).width();
        QString text = b->text();
        text.remove('&');
        const int need = b->fontMetrics().horizontalAdvance(text) + 8;  // a little air on each side
        if (need > room) cut << QString("%1: \"%2\" needs %3 of %4").arg(name(b), text).arg(need).arg(room);
    }
    for (QGroupBox* g : window->findChildren<QGroupBox*>()) {
        if (skip.contains(g) || g->title().isEmpty()) continue;
        const int need = g->fontMetrics().horizontalAdvance(g->title()) + 16;
        if (need > g->width()) cut << QString("%1: \"%2\"").arg(name(g), g->title());
    }
    for (QCheckBox* c : window->findChildren<QCheckBox*>()) {
        if (skip.contains(c) || c->text().isEmpty()) continue;
        QStyleOptionButton opt;
        opt.initFrom(c);
        const QRect indicator = c->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, c);
        const QRect room = c->rect().adjusted(indicator.right() + 5, 0, 0, 0);
        const QRect need = c->fontMetrics().boundingRect(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, c->text());
        if (need.width() > room.width() || need.height() > room.height())
            cut << QString("%1: \"%2\"").arg(name(c), c->text());
    }
    for (auto* g : window->findChildren<dbctrls::DBGrid*>()) {
        if (skip.contains(g)) continue;
        const auto* h = g->horizontalHeader();
        const int margin = g->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
        for (int c = 0; c < g->model()->columnCount(); ++c) {
            if (g->isColumnHidden(c)) continue;
            const QString title = g->model()->headerData(c, Qt::Horizontal).toString();
            const QFont font = g->model()->headerData(c, Qt::Horizontal, Qt::FontRole).value<QFont>();
            const int need = QFontMetrics(font).horizontalAdvance(title) + 2 * margin + 2;
            if (need > h->sectionSize(c))
                cut << QString("%1 column \"%2\" needs %3 of %4").arg(name(g), title).arg(need).arg(h->sectionSize(c));
        }
    }
    return cut;
}

}  // namespace talvira::test

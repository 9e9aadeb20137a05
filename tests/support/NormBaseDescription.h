#pragma once
/** The description of the small norm base written by pxlib (tests/data/normbase-pxlib/FIXTURE.json):
 *  every record of its six tables, the browse order and the positions each rate adds. */
#include "tests/support/TestPaths.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

namespace talvira::test {

/** The whole description; a missing or unreadable file throws, naming it. */
inline QJsonObject normBaseDescription() {
    const std::filesystem::path p = fixture("normbase-pxlib/FIXTURE.json");
    QFile f(QString::fromStdString(p.string()));
    if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + p.string());
    return QJsonDocument::fromJson(f.readAll()).object();
}

}  // namespace talvira::test

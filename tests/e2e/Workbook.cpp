#include "tests/e2e/Workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QXmlStreamReader>

namespace e2e {

std::pair<int, int> cellRef(const QString& ref) {
    int col = 0;
    int i = 0;
    while (i < ref.size() && ref.at(i).isLetter()) col = col * 26 + (ref.at(i++).toUpper().unicode() - 'A' + 1);
    return {ref.mid(i).toInt(), col};
}

const Cell* Sheet::at(const QString& ref) const {
    const auto it = cells.find(cellRef(ref));
    return it == cells.end() ? nullptr : &it->second;
}

QString findSoffice() { return QStandardPaths::findExecutable(QStringLiteral("soffice")); }

namespace {

/** "of:=SUM([.K12:.K14])" → "SUM(K12:K14)". */
QString plainFormula(QString f) {
    if (f.startsWith(QLatin1String("of:"))) f = f.mid(3);
    if (f.startsWith(QLatin1Char('='))) f = f.mid(1);
    f.replace(QRegularExpression(QStringLiteral("\\[\\.([A-Z]+[0-9]+)(?::\\.([A-Z]+[0-9]+))?\\]")),
              QStringLiteral("\\1:\\2"));
    f.replace(QRegularExpression(QStringLiteral(":(?![A-Z])")), QString());
    return f;
}

}  // namespace

std::vector<Sheet> readFods(const QString& path) {
    std::vector<Sheet> sheets;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return sheets;
    QXmlStreamReader xml(&file);
    int row = 0;
    int col = 0;
    int rowRepeat = 1;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.qualifiedName();
            const auto attrs = xml.attributes();
            if (name == QLatin1String("table:table")) {
                sheets.push_back({attrs.value(QLatin1String("table:name")).toString(), {}});
                row = 0;
            } else if (name == QLatin1String("table:table-row") && !sheets.empty()) {
                ++row;
                col = 0;
                const auto rep = attrs.value(QLatin1String("table:number-rows-repeated"));
                rowRepeat = rep.isEmpty() ? 1 : rep.toInt();
            } else if ((name == QLatin1String("table:table-cell") || name == QLatin1String("table:covered-table-cell")) &&
                       !sheets.empty()) {
                const auto rep = attrs.value(QLatin1String("table:number-columns-repeated"));
                const int colRepeat = rep.isEmpty() ? 1 : rep.toInt();
                Cell cell;
                cell.formula = plainFormula(attrs.value(QLatin1String("table:formula")).toString());
                cell.type = attrs.value(QLatin1String("office:value-type")).toString();
                cell.value = attrs.value(QLatin1String("office:value")).toDouble();
                // The text of the cell: its paragraphs, joined by line breaks.
                QStringList paragraphs;
                int depth = 1;
                QString current;
                int inParagraph = 0;
                while (depth > 0 && !xml.atEnd()) {
                    xml.readNext();
                    if (xml.isStartElement()) {
                        ++depth;
                        if (xml.qualifiedName() == QLatin1String("text:p")) ++inParagraph;
                        if (xml.qualifiedName() == QLatin1String("text:s")) {
                            const auto n = xml.attributes().value(QLatin1String("text:c"));
                            current += QString(n.isEmpty() ? 1 : n.toInt(), QLatin1Char(' '));
                        }
                    } else if (xml.isEndElement()) {
                        --depth;
                        if (xml.qualifiedName() == QLatin1String("text:p")) {
                            --inParagraph;
                            paragraphs << current;
                            current.clear();
                        }
                    } else if (xml.isCharacters() && inParagraph > 0) {
                        current += xml.text();
                    }
                }
                cell.text = paragraphs.join(QLatin1Char('\n'));
                const bool empty = cell.type.isEmpty() && cell.formula.isEmpty() && cell.text.isEmpty();
                for (int c = 0; c < colRepeat; ++c) {
                    ++col;
                    if (!empty && rowRepeat == 1) sheets.back().cells[{row, col}] = cell;
                }
            }
        } else if (xml.isEndElement() && xml.qualifiedName() == QLatin1String("table:table-row")) {
            row += rowRepeat - 1;
            rowRepeat = 1;
        }
    }
    return sheets;
}

std::optional<std::vector<Sheet>> readWithLibreOffice(const QString& workbook, const QString& scratch,
                                                      QString* error) {
    const QString soffice = findSoffice();
    if (soffice.isEmpty()) {
        *error = QStringLiteral("soffice is not installed");
        return std::nullopt;
    }
    QDir().mkpath(scratch + QStringLiteral("/profile/user"));
    const QString profile = QUrl::fromLocalFile(scratch + QStringLiteral("/profile")).toString();
    // An .xlsx is recalculated on load (by default LibreOffice trusts the values a file stores).
    QFile settings(scratch + QStringLiteral("/profile/user/registrymodifications.xcu"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                       "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                       "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
                       "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop oor:name=\"OOXMLRecalcMode\" "
                       "oor:op=\"fuse\"><value>0</value></prop></item>\n</oor:items>\n");
    settings.close();
    // LibreOffice reads file names in the locale it runs in: one that surely exists.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("LANGUAGE"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(soffice, {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                      QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--convert-to"),
                      QStringLiteral("fods"), QStringLiteral("--outdir"), scratch, workbook});
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("soffice did not finish: ") + QString::fromLocal8Bit(p.readAll());
        return std::nullopt;
    }
    const QString out = scratch + QLatin1Char('/') + QFileInfo(workbook).completeBaseName() + QStringLiteral(".fods");
    if (!QFile::exists(out)) {
        *error = QStringLiteral("soffice wrote no .fods: ") + QString::fromLocal8Bit(p.readAll());
        return std::nullopt;
    }
    return readFods(out);
}

std::vector<QStringList> parseCsv(const QString& text) {
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool any = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            any = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
            any = true;
        } else if (c == QLatin1Char('\n')) {
            row << field;
            rows.push_back(row);
            row.clear();
            field.clear();
            any = false;
        } else if (c != QLatin1Char('\r')) {
            field += c;
            any = true;
        }
    }
    if (any) {
        row << field;
        rows.push_back(row);
    }
    return rows;
}

std::optional<std::vector<QStringList>> recalcWithGnumeric(const QString& workbook, const QString& scratch,
                                                           QString* error) {
    const QString ssconvert = QStandardPaths::findExecutable(QStringLiteral("ssconvert"));
    if (ssconvert.isEmpty()) {
        *error = QStringLiteral("ssconvert is not installed");
        return std::nullopt;
    }
    QDir().mkpath(scratch);
    const QString out = scratch + QStringLiteral("/recalculated.csv");
    QFile::remove(out);
    // Gnumeric writes its CSV numbers in the locale it runs in ("570014,299" under a decimal
    // comma): a fixed one, whatever the test itself runs in.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("LANGUAGE"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ssconvert, {QStringLiteral("--recalc"), workbook, out});
    if (!p.waitForFinished(120000) || p.exitCode() != 0 || !QFile::exists(out)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("ssconvert failed: ") + QString::fromLocal8Bit(p.readAll());
        return std::nullopt;
    }
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + out;
        return std::nullopt;
    }
    return parseCsv(QString::fromUtf8(f.readAll()));
}

}  // namespace e2e

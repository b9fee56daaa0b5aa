#include "desktop/Appcast.h"

#include <QXmlStreamReader>

namespace keldwick::Appcast {

namespace {

// The version's pieces: digit runs and letter runs, separators dropped.
QStringList pieces(const QString& version) {
    QStringList result;
    QString current;
    int kind = 0;  // 1 digits, 2 other
    for (QChar c : version) {
        int next = c.isDigit() ? 1 : (c.isLetterOrNumber() ? 2 : 0);
        if (next != kind && !current.isEmpty()) {
            result.append(current);
            current.clear();
        }
        kind = next;
        if (next != 0) {
            current += c;
        }
    }
    if (!current.isEmpty()) {
        result.append(current);
    }
    return result;
}

bool isNumber(const QString& piece) {
    return !piece.isEmpty() && piece.front().isDigit();
}

// Digit runs of any length compare by value: without leading zeros, the longer is larger.
int compareNumbers(QString a, QString b) {
    while (a.size() > 1 && a.front() == u'0') {
        a.remove(0, 1);
    }
    while (b.size() > 1 && b.front() == u'0') {
        b.remove(0, 1);
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

bool isZero(const QString& piece) {
    return isNumber(piece) && compareNumbers(piece, QStringLiteral("0")) == 0;
}

}  // namespace

int compareVersions(const QString& a, const QString& b) {
    QStringList left = pieces(a), right = pieces(b);
    qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        if (i >= left.size() || i >= right.size()) {
            // "1.2" is "1.2.0"; "1.2" is above "1.2b" and below "1.2.1".
            const QString& extra = i < left.size() ? left[i] : right[i];
            int sign = i < left.size() ? 1 : -1;
            if (isZero(extra)) {
                continue;
            }
            return isNumber(extra) ? sign : -sign;
        }
        const QString &x = left[i], &y = right[i];
        int order = 0;
        if (isNumber(x) && isNumber(y)) {
            order = compareNumbers(x, y);
        } else if (isNumber(x) != isNumber(y)) {
            order = isNumber(x) ? 1 : -1;  // a release number is above a pre-release tag
        } else {
            order = x.compare(y);
        }
        if (order != 0) {
            return order < 0 ? -1 : 1;
        }
    }
    return 0;
}

std::vector<AppcastItem> parse(const QByteArray& feed) {
    QXmlStreamReader xml(feed);
    std::vector<AppcastItem> items;
    bool sawChannel = false;
    std::optional<AppcastItem> item;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == u"channel" && xml.namespaceUri().isEmpty()) {
                sawChannel = true;
            } else if (name == u"item" && xml.namespaceUri().isEmpty()) {
                item = AppcastItem{};
            } else if (item && name == u"enclosure") {
                const QXmlStreamAttributes attributes = xml.attributes();
                for (const QXmlStreamAttribute& attribute : attributes) {
                    const auto key = attribute.name();
                    const QString value = attribute.value().toString();
                    if (key == u"url") {
                        item->archive = QUrl(value.trimmed(), QUrl::StrictMode);
                    } else if (key == u"version") {
                        item->version = value.trimmed();
                    } else if (key == u"shortVersionString") {
                        item->displayVersion = value.trimmed();
                    } else if (key == u"edSignature") {
                        item->signature = value.trimmed();
                    } else if (key == u"length") {
                        bool ok = false;
                        qint64 length = value.trimmed().toLongLong(&ok);
                        item->length = ok && length >= 0 ? length : -1;
                    }
                }
            } else if (item && (name == u"title" || name == u"link" || name == u"version" ||
                                name == u"shortVersionString")) {
                QString text = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                if (name == u"title") {
                    item->title = text;
                } else if (name == u"link") {
                    item->link = QUrl(text, QUrl::StrictMode);
                } else if (name == u"version") {
                    item->version = text;
                } else {
                    item->displayVersion = text;
                }
            }
        } else if (xml.isEndElement() && xml.name() == u"item" && xml.namespaceUri().isEmpty() && item) {
            if (item->displayVersion.isEmpty()) {
                item->displayVersion = item->version;
            }
            if (!item->version.isEmpty() && item->archive.isValid() && !item->archive.isRelative()) {
                items.push_back(std::move(*item));
            }
            item.reset();
        }
    }
    if (xml.hasError()) {
        throw AppcastError(QStringLiteral("%1 (line %2, column %3)")
                               .arg(xml.errorString())
                               .arg(xml.lineNumber())
                               .arg(xml.columnNumber())
                               .toStdString());
    }
    if (!sawChannel) {
        throw AppcastError("the document has no RSS channel");
    }
    return items;
}

std::optional<AppcastItem> newest(const std::vector<AppcastItem>& items, const QString& currentVersion) {
    std::optional<AppcastItem> best;
    for (const AppcastItem& item : items) {
        if (compareVersions(item.version, currentVersion) > 0 &&
            (!best || compareVersions(item.version, best->version) > 0)) {
            best = item;
        }
    }
    return best;
}

}  // namespace keldwick::Appcast

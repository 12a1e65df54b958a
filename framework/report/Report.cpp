#include "report/Report.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextLayout>
#include <mutex>

#include "core/errors/Errors.h"
#include "core/values/FieldValue.h"
#include "report/Barcode.h"

namespace fw::report {

namespace {

const QString kFamily = QStringLiteral("DejaVu Sans");

// The same font everywhere, whatever the machine has: the letter prints the same.
void ensureFonts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* file : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"})
            QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/") +
                                              QLatin1String(file));
    });
}

QString digits(const QString& s)
{
    QString out;
    for (const QChar c : s)
        if (c.isDigit())
            out.append(c);
    return out;
}

// The value rules' reading of date-times: every form a driver gives.
QDateTime asDateTime(const QVariant& v)
{
    bool ok = false;
    const QVariant d = convertValue(v, FieldType::DateTime, &ok);
    return ok ? d.toDateTime() : QDateTime();
}

QString format(const QVariant& v, const QString& how)
{
    const QString s = v.isNull() ? QString() : v.toString();
    if (how == QLatin1String("key")) {
        const QString d = digits(s);
        QStringList groups;
        for (int i = 0; i < d.size(); i += 4)
            groups << d.mid(i, 4);
        return groups.join(QLatin1Char(' '));
    }
    if (how == QLatin1String("cnpjcpf")) {
        const QString d = digits(s);
        if (d.size() == 14)
            return QStringLiteral("%1.%2.%3/%4-%5")
                .arg(d.mid(0, 2), d.mid(2, 3), d.mid(5, 3), d.mid(8, 4), d.mid(12, 2));
        if (d.size() == 11)
            return QStringLiteral("%1.%2.%3-%4").arg(d.mid(0, 3), d.mid(3, 3), d.mid(6, 3), d.mid(9, 2));
        return s;
    }
    if (how == QLatin1String("date") || how == QLatin1String("datetime")) {
        const QDateTime d = asDateTime(v);
        if (!d.isValid())
            return s;
        return d.toString(how == QLatin1String("date") ? QStringLiteral("dd/MM/yyyy")
                                                       : QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    if (how == QLatin1String("cep")) {
        const QString d = digits(s);
        return d.size() == 8 ? d.left(5) + QLatin1Char('-') + d.mid(5) : s;
    }
    if (how == QLatin1String("upper"))
        return s.toUpper();
    if (how.startsWith(QLatin1String("xml:"))) {
        // An element's text inside an XML value (the event's own date and time, say).
        const QString tag = how.mid(4);
        const QRegularExpression re(QStringLiteral("<%1>([^<]*)</%1>").arg(QRegularExpression::escape(tag)));
        const QString inner = re.match(s).captured(1);
        const QDateTime d = QDateTime::fromString(inner, Qt::ISODate);
        if (d.isValid() && inner.size() == 25)
            return d.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss ")) + inner.right(6);
        return inner;
    }
    return s;
}

struct Page {
    QPainter& p;
    QPagedPaintDevice* device;
    double dpmm; // device pixels per millimetre
    QRectF content;
    double y = 0;

    double mm(double v) const { return v * dpmm; }
    QFont font(double pt, bool bold = false) const
    {
        QFont f(kFamily);
        f.setPointSizeF(pt);
        f.setBold(bold);
        return f;
    }
};

} // namespace

bool ExistParam(const QList<QueryParam*>& params, const QString& name)
{
    for (const QueryParam* p : params)
        if (p && p->name().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

Report::Report(ReportDefinition definition)
    : m_definition(std::move(definition)),
      m_query(std::make_unique<TADOIBQuery>()),
      m_printTime(QDateTime::currentDateTime())
{
    m_query->setObjectName(QStringLiteral("qryRelatorio"));
    m_query->SQL = m_definition.query.split(QLatin1Char('\n'));
}

Report::~Report() = default;

bool Report::run(QString* error)
{
    QList<QueryParam*> params;
    for (const QString& n : m_query->paramNames())
        params << m_query->ParamByName(n);
    bool cancel = false;
    if (BeforeGetQueryParams)
        BeforeGetQueryParams(params, cancel);
    if (cancel) {
        *error = QStringLiteral("Impressão cancelada.");
        return false;
    }
    try {
        m_query->close();
        m_query->open();
    } catch (const Error& e) {
        *error = e.message();
        return false;
    }
    m_rows.clear();
    for (m_query->first(); !m_query->eof(); m_query->next()) {
        QVariantMap row;
        for (Field* f : m_query->fields())
            row.insert(f->fieldName().toUpper(), f->value());
        m_rows << row;
    }
    return true;
}

QString Report::fill(const QString& text, const QVariantMap& row, const QDateTime& printTime)
{
    static const QRegularExpression field(QStringLiteral("\\{([A-Za-z0-9_]+)(?:\\|([A-Za-z]+(?::[A-Za-z]+)?))?\\}"));
    QString out;
    qsizetype at = 0;
    for (auto it = field.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += text.mid(at, m.capturedStart() - at);
        const QString name = m.captured(1).toUpper();
        const QVariant v = name == QLatin1String("TODAY") ? QVariant(printTime) : row.value(name);
        out += format(v, m.captured(2).isEmpty() && name == QLatin1String("TODAY") ? QStringLiteral("datetime")
                                                                                   : m.captured(2));
        at = m.capturedEnd();
    }
    return out + text.mid(at);
}

int Report::render(QPagedPaintDevice* device)
{
    ensureFonts();
    QPainter painter(device);
    if (!painter.isActive())
        return 0;
    const double dpmm = device->logicalDpiX() / 25.4;
    const QRectF full(0, 0, device->width(), device->height());
    const double margin = m_definition.marginMm * dpmm;
    Page pg{painter, device, dpmm, full.adjusted(margin, margin, -margin, -margin)};
    int pages = 0;
    const Block* footer = nullptr;
    for (const Block& b : m_definition.blocks)
        if (b.kind == Block::Kind::Footer)
            footer = &b;
    const double footerHeight = footer ? pg.mm(8) : 0;

    auto bottom = [&] { return pg.content.bottom() - footerHeight - pg.mm(2); };
    // Watermarks in the page's free space under its last block, in a light see-through grey,
    // level so that the text stays text, and never over what the page says. A page with no
    // room under its text takes them small, in its top margin.
    const QVariantMap* pageRow = nullptr;
    auto watermark = [&] {
        if (!pageRow)
            return;
        const QVariantMap& row = *pageRow;
        QStringList marks;
        for (const Watermark& w : m_definition.watermarks)
            if (w.whenField.isEmpty() || row.value(w.whenField.toUpper()).toString().trimmed() == w.whenValue)
                marks << w.text;
        if (marks.isEmpty())
            return;
        QRectF room(pg.content.left(), pg.y + pg.mm(4), pg.content.width(), bottom() - pg.y - pg.mm(4));
        // As large as the room allows (in points): the widest mark across 80% of it, every
        // mark in its height.
        auto fitted = [&](const QRectF& r, double startPt) {
            if (r.height() <= 0)
                return 0.0;
            const QFont f = pg.font(startPt, true);
            double widest = 0;
            for (const QString& m : marks)
                widest = qMax(widest, QFontMetricsF(f, device).horizontalAdvance(m));
            const double tall = QFontMetricsF(f, device).height() * 1.4 * marks.size();
            return startPt * qMin(1.0, qMin(r.width() * 0.8 / widest, r.height() / tall));
        };
        double points = fitted(room, 40);
        if (points < 12) {
            room = QRectF(pg.content.left(), full.top() + pg.mm(1), pg.content.width(), pg.content.top() - pg.mm(2));
            points = fitted(room, 12);
        }
        if (points < 4)
            return;
        const QFont f = pg.font(points, true);
        painter.save();
        painter.setFont(f);
        painter.setPen(QColor(150, 150, 150, 110));
        const double line = QFontMetricsF(f, device).height() * 1.4;
        const double top = room.center().y() - line * marks.size() / 2;
        for (int i = 0; i < marks.size(); ++i)
            painter.drawText(QRectF(room.left(), top + i * line, room.width(), line), Qt::AlignCenter, marks.at(i));
        painter.restore();
    };
    auto startPage = [&](const QVariantMap& row) {
        if (pages > 0) {
            watermark();
            device->newPage();
        }
        ++pages;
        pageRow = &row;
        pg.y = pg.content.top();
        if (footer) {
            painter.setFont(pg.font(7));
            painter.setPen(Qt::black);
            const QRectF r(pg.content.left(), pg.content.bottom() - footerHeight, pg.content.width(), footerHeight);
            painter.drawLine(r.topLeft(), r.topRight());
            painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fill(footer->text, row, m_printTime));
            painter.drawText(r, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Página %1").arg(pages));
        }
    };
    auto sectionTitle = [&](const QString& title) {
        if (title.isEmpty())
            return;
        const double h = pg.mm(5);
        const QRectF r(pg.content.left(), pg.y, pg.content.width(), h);
        painter.fillRect(r, QColor(230, 230, 230));
        painter.setPen(Qt::black);
        painter.drawRect(r);
        painter.setFont(pg.font(7.5, true));
        painter.drawText(r.adjusted(pg.mm(1.5), 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
        pg.y += h;
    };

    for (const QVariantMap& row : m_rows) {
        startPage(row);
        for (const Block& b : m_definition.blocks) {
            painter.setPen(Qt::black);
            switch (b.kind) {
            case Block::Kind::Footer: break;
            case Block::Kind::Title: {
                painter.setFont(pg.font(13, true));
                const QRectF r(pg.content.left(), pg.y, pg.content.width(), pg.mm(9));
                painter.drawText(r, Qt::AlignCenter, fill(b.text, row, m_printTime));
                pg.y += r.height() + pg.mm(1);
                break;
            }
            case Block::Kind::Grid: {
                sectionTitle(b.title);
                for (const QList<Cell>& cells : b.rows) {
                    double fixed = 0;
                    int free = 0;
                    for (const Cell& c : cells)
                        c.width > 0 ? fixed += c.width : ++free;
                    const double share = free ? qMax(0.0, 1.0 - fixed) / free : 0;
                    // The row is as tall as its tallest wrapped value.
                    QList<QString> values;
                    double rowHeight = pg.mm(9);
                    QFont valueFont = pg.font(9);
                    for (const Cell& c : cells) {
                        values << fill(c.value, row, m_printTime);
                        const double w = pg.content.width() * (c.width > 0 ? c.width : share) - pg.mm(3);
                        const QRectF need = QFontMetricsF(valueFont, device)
                                                .boundingRect(QRectF(0, 0, w, 1e6), Qt::TextWordWrap, values.last());
                        rowHeight = qMax(rowHeight, need.height() + pg.mm(5));
                    }
                    double x = pg.content.left();
                    for (int i = 0; i < cells.size(); ++i) {
                        const double w = pg.content.width() * (cells.at(i).width > 0 ? cells.at(i).width : share);
                        const QRectF r(x, pg.y, w, rowHeight);
                        painter.drawRect(r);
                        painter.setFont(pg.font(6.5));
                        painter.drawText(r.adjusted(pg.mm(1.5), pg.mm(0.8), -pg.mm(1.5), 0),
                                         Qt::AlignLeft | Qt::AlignTop, cells.at(i).label);
                        painter.setFont(valueFont);
                        painter.drawText(r.adjusted(pg.mm(1.5), pg.mm(4), -pg.mm(1.5), -pg.mm(0.5)),
                                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, values.at(i));
                        x += w;
                    }
                    pg.y += rowHeight;
                }
                pg.y += pg.mm(2);
                break;
            }
            case Block::Kind::Barcode: {
                const QRectF r(pg.content.left() + pg.content.width() * 0.15, pg.y, pg.content.width() * 0.7,
                               pg.mm(b.heightMm));
                drawCode128(painter, r, digits(fill(b.value, row, m_printTime)));
                pg.y += r.height() + pg.mm(2);
                break;
            }
            case Block::Kind::Text: {
                QString text = fill(b.value, row, m_printTime);
                // Line breaks typed, and the event's ";" standing for them, print as breaks; the
                // blanks after a ";" do not start the next line.
                text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
                text.replace(QLatin1Char('\n'), QChar::LineSeparator);
                if (!b.breaks.isEmpty())
                    text.replace(QRegularExpression(QRegularExpression::escape(b.breaks) + QStringLiteral(" *")),
                                 QString(QChar::LineSeparator));
                const QFont f = pg.font(9);
                const double width = pg.content.width() - pg.mm(3);
                QTextLayout layout(text, f, device);
                QTextOption opt;
                opt.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                layout.setTextOption(opt);
                layout.beginLayout();
                QList<QTextLine> lines;
                double h = 0;
                for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
                    l.setLineWidth(width);
                    l.setPosition(QPointF(0, h));
                    h += l.height();
                    lines << l;
                }
                layout.endLayout();
                // As many lines as fit on this page; the rest flows onto the next ones.
                int next = 0;
                bool continued = false;
                while (next < lines.size()) {
                    if (bottom() - pg.y < pg.mm(5) + lines.at(next).height() + pg.mm(2)) {
                        startPage(row);
                        continued = true;
                    }
                    sectionTitle(continued ? b.title + QStringLiteral(" (continuação)") : b.title);
                    const double top = pg.y + pg.mm(1);
                    int last = next;
                    while (last < lines.size() && top + lines.at(last).position().y() - lines.at(next).position().y() +
                                                          lines.at(last).height() <=
                                                      bottom())
                        ++last;
                    if (last == next)
                        last = next + 1; // a single line taller than a page still prints
                    const double used =
                        lines.at(last - 1).position().y() + lines.at(last - 1).height() - lines.at(next).position().y();
                    painter.setFont(f);
                    for (int i = next; i < last; ++i)
                        lines.at(i).draw(&painter,
                                         QPointF(pg.content.left() + pg.mm(1.5), top - lines.at(next).position().y()));
                    painter.drawRect(QRectF(pg.content.left(), pg.y, pg.content.width(), used + pg.mm(2)));
                    pg.y += used + pg.mm(2) + pg.mm(2);
                    next = last;
                }
                if (lines.isEmpty()) {
                    sectionTitle(b.title);
                    pg.y += pg.mm(6);
                }
                break;
            }
            }
        }
    }
    watermark();
    painter.end();
    return pages;
}

bool Report::renderPdf(QIODevice* out, QString* error)
{
    int pages = 0;
    {
        QPdfWriter pdf(out);
        pdf.setPageSize(
            QPageSize(m_definition.pageSize == QLatin1String("Letter") ? QPageSize::Letter : QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(300);
        pdf.setTitle(m_definition.title);
        pdf.setCreator(QStringLiteral("CC-e"));
        pages = render(&pdf);
    }
    if (pages == 0) {
        *error = QStringLiteral("Não existem dados a serem impressos.");
        return false;
    }
    return true;
}

bool Report::renderPdf(const QString& path, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Não foi possível gravar %1.").arg(path);
        return false;
    }
    if (!renderPdf(&file, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("Não foi possível gravar %1.").arg(path);
        return false;
    }
    return true;
}

void Report::keepRows(const std::function<bool(const QVariantMap&)>& keep)
{
    QList<QVariantMap> kept;
    for (const QVariantMap& row : std::as_const(m_rows))
        if (keep(row))
            kept << row;
    m_rows = kept;
}

} // namespace fw::report

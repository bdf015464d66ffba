#include "widgets/report_page.h"

#include <QDir>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPolygonF>
#include <QSaveFile>
#include <algorithm>

namespace ufd::documents {

namespace {

// The page is laid out in millimetres on A4 less these margins, then scaled to the area given.
constexpr double kMarginX = 15, kMarginY = 12;
constexpr double kWidth = 210 - 2 * kMarginX;  // 180 mm
constexpr double kHeight = 297 - 2 * kMarginY; // 273 mm

constexpr double kRowHeight = 5.2;
constexpr double kPairWidth = kWidth / 4;
constexpr double kLabelWidth = 25;
constexpr double kPad = 1.0;
constexpr double kSignatureHeight = 8;
constexpr double kStatementHeight = 4;
constexpr double kFooterHeight = 4.5;

constexpr QRgb kLabelFill = 0xFFE6ECF4;
constexpr QRgb kCellLine = 0xFF808080;
constexpr QRgb kGridLine = 0xFFC8C8C8;
constexpr QRgb kZeroLine = 0xFF909090;

QColor color(std::uint32_t rgb) {
    return QColor::fromRgb(0xFF000000u | rgb);
}

// Fonts for the base text and Chinese report and probe names on Linux and Windows; Qt falls
// back per character, and the PDF writer embeds what it uses.
QFont baseFont() {
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"),
                   QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Microsoft YaHei"),
                   QStringLiteral("SimSun")});
    f.setStyleHint(QFont::SansSerif);
    // Unshaped Latin text keeps "ff" and "fi" as letters, so a search or copy finds "Offset".
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

class PagePainter {
public:
    PagePainter(QPainter& painter, const QRectF& area)
        : p_(painter), font_(baseFont()),
          u_(std::min(area.width() / kWidth, area.height() / kHeight)),
          origin_(area.left() + (area.width() - kWidth * u_) / 2,
                  area.top() + (area.height() - kHeight * u_) / 2) {}

    QPointF at(double x, double y) const { return origin_ + QPointF(x * u_, y * u_); }
    QRectF rect(double x, double y, double w, double h) const {
        return QRectF(at(x, y), QSizeF(w * u_, h * u_));
    }
    double scale() const { return u_; }

    QFont font(double points, bool bold = false) const {
        QFont f = font_;
        f.setPixelSize(std::max(1, qRound(points * 25.4 / 72 * u_)));
        f.setBold(bold);
        return f;
    }

    QPen pen(const QColor& c, double widthMm) const {
        QPen pen(c, widthMm * u_);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::RoundJoin);
        return pen;
    }

    QPen pen(const LineStyle& s) const {
        QPen pen = this->pen(color(s.rgb), s.widthMm);
        if (!s.dashMm.empty()) {
            QList<qreal> pattern;
            for (const double d : s.dashMm) {
                pattern << d / s.widthMm; // in pen widths
            }
            pen.setDashPattern(pattern);
        }
        return pen;
    }

    // Text in the box: shrunk to at most 70 % when long, then (where `wrap`) set on two lines,
    // and only then elided, so that little of a signed page is ever cut.
    void text(const QRectF& box, const QString& s, QFont f, int align, bool wrap = false) {
        QFontMetricsF fm(f, p_.device());
        const double width = fm.horizontalAdvance(s);
        int flags = align | Qt::AlignVCenter | Qt::TextSingleLine;
        QString shown = s;
        if (width > box.width() && width > 0) {
            const double shrink = std::max(0.7, box.width() / width);
            f.setPixelSize(std::max(1, static_cast<int>(f.pixelSize() * shrink)));
            fm = QFontMetricsF(f, p_.device());
            if (fm.horizontalAdvance(s) > box.width()) {
                const QRectF need = fm.boundingRect(box, align | Qt::TextWordWrap, s);
                if (wrap && need.height() <= box.height() && need.width() <= box.width()) {
                    flags = align | Qt::AlignVCenter | Qt::TextWordWrap;
                } else {
                    shown = fm.elidedText(s, Qt::ElideRight, box.width());
                }
            }
        }
        p_.setFont(f);
        p_.drawText(box, flags, shown);
    }

    // A label box and a value box beside it, as the template frames them.
    void field(double x, double y, double labelW, double valueW, double h, const QString& label,
               const QString& value) {
        p_.setPen(pen(QColor(kCellLine), 0.15));
        p_.setBrush(QColor(kLabelFill));
        p_.drawRect(rect(x, y, labelW, h));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(rect(x + labelW, y, valueW, h));
        p_.setPen(Qt::black);
        text(rect(x + kPad, y, labelW - 2 * kPad, h), label, font(7, true), Qt::AlignLeft);
        text(rect(x + labelW + kPad, y, valueW - 2 * kPad, h), value, font(8), Qt::AlignLeft, true);
    }

    void heading(double y, const QString& s) {
        p_.setPen(Qt::black);
        text(rect(0, y, kWidth, 4.5), s, font(8.5, true), Qt::AlignLeft);
        p_.setPen(pen(Qt::black, 0.2));
        p_.drawLine(at(0, y + 4.6), at(kWidth, y + 4.6));
    }

    double fields(double y, const ReportPage& page);
    void plot(const QRectF& frameMm, const PlotContent& plot);
    void signatures(double y, const ReportPage& page);
    void footer(const ReportPage& page, int pageNumber, int pageCount);

    QPainter& painter() { return p_; }

private:
    void legend(double x, double y, double width, const PlotContent& plot);

    QPainter& p_;
    QFont font_;
    double u_;
    QPointF origin_;
};

double PagePainter::fields(double y, const ReportPage& page) {
    for (const FieldGroup& group : page.groups) {
        if (!group.heading.isEmpty()) {
            heading(y, group.heading);
            y += 5.6;
        }
        for (const FieldRow& row : group.rows) {
            int lines = 1;
            for (const FieldCell& cell : row) {
                lines = std::max(lines, cell.lines);
            }
            const double h = kRowHeight * lines;
            double x = 0;
            for (const FieldCell& cell : row) {
                const double w = kPairWidth * cell.span;
                if (!cell.label.isEmpty() || !cell.value.isEmpty()) {
                    field(x, y, kLabelWidth, w - kLabelWidth, h, cell.label, cell.value);
                }
                x += w;
            }
            y += h;
        }
        y += 1.6;
    }
    return y;
}

void PagePainter::plot(const QRectF& frameMm, const PlotContent& plot) {
    const QRectF frame = rect(frameMm.x(), frameMm.y(), frameMm.width(), frameMm.height());
    const Axis& ax = plot.x;
    const Axis& ay = plot.y;
    const auto map = [&](const QPointF& v) {
        return QPointF(frame.left() + (v.x() - ax.min) / (ax.max - ax.min) * frame.width(),
                       frame.bottom() - (v.y() - ay.min) / (ay.max - ay.min) * frame.height());
    };

    // Grid and tick labels.
    const QFont tickFont = font(7);
    for (const double t : ax.ticks) {
        const double px = map(QPointF(t, ay.min)).x();
        p_.setPen(pen(QColor(kGridLine), 0.1));
        p_.drawLine(QPointF(px, frame.top()), QPointF(px, frame.bottom()));
        p_.setPen(Qt::black);
        const QRectF box(px - 8 * u_, frame.bottom() + 0.6 * u_, 16 * u_, 3.6 * u_);
        text(box, QString::number(t, 'f', ax.decimals), tickFont, Qt::AlignHCenter);
    }
    for (const double t : ay.ticks) {
        const double py = map(QPointF(ax.min, t)).y();
        p_.setPen(pen(QColor(t == 0 && ay.min < 0 ? kZeroLine : kGridLine), 0.1));
        p_.drawLine(QPointF(frame.left(), py), QPointF(frame.right(), py));
        p_.setPen(Qt::black);
        const QRectF box(frame.left() - 9 * u_, py - 1.8 * u_, 8 * u_, 3.6 * u_);
        text(box, QString::number(t, 'f', ay.decimals), tickFont, Qt::AlignRight);
    }
    const QFont titleFont = font(7.5, true);
    text(QRectF(frame.left(), frame.bottom() + 4.2 * u_, frame.width(), 4 * u_), ax.title,
         titleFont, Qt::AlignHCenter);
    p_.save();
    p_.translate(frame.left() - 12.5 * u_, frame.center().y());
    p_.rotate(-90);
    text(QRectF(-frame.height() / 2, -2 * u_, frame.height(), 4 * u_), ay.title, titleFont,
         Qt::AlignHCenter);
    p_.restore();

    // Series, clipped to the frame as the screen clips them to the axes.
    p_.save();
    p_.setClipRect(frame);
    p_.setBrush(Qt::NoBrush);
    for (const PlotSeries& s : plot.series) {
        QPolygonF line;
        line.reserve(s.points.size());
        for (const QPointF& v : s.points) {
            line << map(v);
        }
        p_.setPen(pen(s.style));
        p_.drawPolyline(line);
        if (s.endMarkers && !line.isEmpty()) {
            p_.setPen(pen(color(s.style.rgb), 0.3));
            const double r = 0.9 * u_;
            for (const QPointF& c : {line.first(), line.last()}) {
                p_.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
                p_.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
            }
        }
    }
    p_.restore();
    p_.setPen(pen(Qt::black, 0.25));
    p_.setBrush(Qt::NoBrush);
    p_.drawRect(frame);

    legend(frameMm.left(), frameMm.bottom() + 9, frameMm.width(), plot);
}

void PagePainter::legend(double x, double y, double width, const PlotContent& plot) {
    const QFont f = font(7.5);
    const QFontMetricsF fm(f, p_.device());
    constexpr double kSample = 8, kGap = 1.5, kSpacing = 6;
    double total = 0;
    std::vector<double> widths;
    for (const PlotSeries& s : plot.series) {
        widths.push_back(kSample + kGap + fm.horizontalAdvance(s.title) / u_);
        total += widths.back();
    }
    total += kSpacing * static_cast<double>(std::max<std::size_t>(widths.size(), 1) - 1);
    double cx = x + std::max(0.0, (width - total) / 2);
    for (std::size_t i = 0; i < plot.series.size(); ++i) {
        const PlotSeries& s = plot.series[i];
        const double mid = y + 2;
        p_.setPen(pen(s.style));
        p_.drawLine(at(cx, mid), at(cx + kSample, mid));
        p_.setPen(Qt::black);
        text(rect(cx + kSample + kGap, y, widths[i] - kSample - kGap + 1, 4), s.title, f,
             Qt::AlignLeft);
        cx += widths[i] + kSpacing;
    }
}

void PagePainter::signatures(double y, const ReportPage& page) {
    // Role and name, then a box to sign and one for the date, all written by hand.
    constexpr double kRole = kLabelWidth, kName = 52, kSignLabel = 20, kDateLabel = 12;
    constexpr double kDate = 30;
    constexpr double kSign = kWidth - kRole - kName - kSignLabel - kDateLabel - kDate;
    for (const SignatureLine& line : page.signatures) {
        field(0, y, kRole, kName, kSignatureHeight, line.role, line.name);
        field(kRole + kName, y, kSignLabel, kSign, kSignatureHeight, page.signatureLabel, {});
        field(kWidth - kDateLabel - kDate, y, kDateLabel, kDate, kSignatureHeight, page.dateLabel,
              line.date);
        y += kSignatureHeight;
    }
    p_.setPen(Qt::black);
    QFont f = font(7.5);
    f.setItalic(true);
    text(rect(0, y + 0.3, kWidth, kStatementHeight - 0.3), page.statement, f, Qt::AlignLeft);
}

void PagePainter::footer(const ReportPage& page, int pageNumber, int pageCount) {
    const double y = kHeight - kFooterHeight;
    p_.setPen(pen(Qt::black, 0.2));
    p_.drawLine(at(0, y), at(kWidth, y));
    p_.setPen(Qt::black);
    const QFont f = font(7);
    const QRectF box = rect(0, y + 0.3, kWidth, kFooterHeight - 0.3);
    text(QRectF(box.left(), box.top(), box.width() / 3, box.height()), page.programName, f,
         Qt::AlignLeft);
    const QString number =
        page.number.isEmpty() ? QString() : QStringLiteral("No. %1   ").arg(page.number);
    text(QRectF(box.left() + box.width() / 4, box.top(), box.width() / 2, box.height()),
         number + page.reportName + QStringLiteral("   ") + page.reportDate, f, Qt::AlignHCenter);
    text(QRectF(box.left() + box.width() * 2 / 3, box.top(), box.width() / 3, box.height()),
         pageNumberText(pageNumber, pageCount), f, Qt::AlignRight);
}

QString cannotWrite(const QString& path, const QString& why) {
    return QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), why);
}

} // namespace

QPageLayout reportPageLayout() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(kMarginX, kMarginY, kMarginX, kMarginY), QPageLayout::Millimeter);
}

void paintReportPage(QPainter& painter, const QRectF& area, const ReportPage& page, int pageNumber,
                     int pageCount) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    PagePainter pp(painter, area);

    painter.setPen(Qt::black);
    pp.text(pp.rect(0, 0, kWidth, 9), page.title, pp.font(15, true), Qt::AlignHCenter);
    if (!page.number.isEmpty()) {
        pp.text(pp.rect(kWidth - 40, 0, 40, 9), QStringLiteral("Report No. %1").arg(page.number),
                pp.font(9, true), Qt::AlignRight);
    }
    painter.setPen(pp.pen(Qt::black, 0.4));
    painter.drawLine(pp.at(0, 9.8), pp.at(kWidth, 9.8));

    const double fieldsEnd = pp.fields(12, page);

    const double signaturesTop = kHeight - kFooterHeight - 1.5 - kStatementHeight -
                                 kSignatureHeight * static_cast<double>(page.signatures.size());
    pp.heading(fieldsEnd, page.plotHeading);
    // The plot takes what is left between the fields and the signatures: the frame, then tick
    // labels and the axis title (9 mm) and the legend (5 mm) below it.
    const double frameTop = fieldsEnd + 7.5;
    const double frameBottom = signaturesTop - 4 - 14;
    // Room on the right for half the last path label: a printer clips at its printable area.
    constexpr double kFrameLeft = 15, kFrameRight = 4;
    pp.plot(QRectF(kFrameLeft, frameTop, kWidth - kFrameLeft - kFrameRight, frameBottom - frameTop),
            page.plot);

    pp.signatures(signaturesTop, page);
    pp.footer(page, pageNumber, pageCount);
    painter.restore();
}

PrintResult printReportPages(QPagedPaintDevice& device, const PageSource& source,
                             const PrintProgress& progress, const CancelCheck& cancelled) {
    PrintResult result;
    const int count = source.count();
    QPainter painter;
    if (!painter.begin(&device)) {
        result.error = QStringLiteral("The report pages cannot be drawn on this device");
        return result;
    }
    const QRectF area(0, 0, device.width(), device.height());
    for (int i = 0; i < count; ++i) {
        if (cancelled && cancelled()) {
            result.cancelled = true;
            break;
        }
        const PageResult made = source.page(i);
        if (!made.ok()) {
            result.error = QStringLiteral("%1: %2").arg(
                source.document.reports[static_cast<std::size_t>(i)].name, made.error);
            break;
        }
        if (i > 0 && !device.newPage()) {
            result.error = QStringLiteral("The device refused a new page");
            break;
        }
        paintReportPage(painter, area, made.page, i + 1, count);
        ++result.pages;
        if (progress) {
            progress(i + 1, count);
        }
    }
    painter.end();
    return result;
}

PrintResult writeReportsPdf(const QString& path, const PageSource& source,
                            const PrintProgress& progress, const CancelCheck& cancelled) {
    PrintResult result;
    if (source.count() == 0) {
        result.error = QStringLiteral("There is no report to write");
        return result;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = cannotWrite(path, file.errorString());
        return result;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(reportPageLayout());
        writer.setTitle(source.document.title);
        writer.setCreator(source.document.creator);
        writer.setDocumentXmpMetadata(xmpMetadata(source.document));
        result = printReportPages(writer, source, progress, cancelled);
    }
    if (!result.ok()) {
        file.cancelWriting();
        return result;
    }
    if (!file.commit()) {
        result.error = cannotWrite(path, file.errorString());
    }
    return result;
}

} // namespace ufd::documents

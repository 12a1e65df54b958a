#include "server/app/Metrics.h"

#include <QMutexLocker>
#include <cmath>

namespace srv {

namespace {

QByteArray escaped(const QString& value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray labelText(const MetricLabels& labels, const QByteArray& extraName = {}, const QByteArray& extraValue = {})
{
    QByteArrayList parts;
    for (const auto& [name, value] : labels)
        parts << name + "=\"" + escaped(value) + '"';
    if (!extraName.isEmpty())
        parts << extraName + "=\"" + extraValue + '"';
    return parts.isEmpty() ? QByteArray() : '{' + parts.join(',') + '}';
}

QByteArray number(double v)
{
    if (std::isinf(v))
        return v > 0 ? "+Inf" : "-Inf";
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        return QByteArray::number(qint64(v));
    return QByteArray::number(v, 'g', 12);
}

} // namespace

const QList<double>& Metrics::buckets()
{
    static const QList<double> b{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};
    return b;
}

void Metrics::declare(const QByteArray& name, Kind kind, const QByteArray& help,
                      std::function<QList<QPair<MetricLabels, double>>()> read)
{
    QMutexLocker lock(&m_mutex);
    Family& f = m_families[name];
    f.kind = kind;
    f.help = help;
    f.read = std::move(read);
}

Metrics::Series& Metrics::series(const QByteArray& name, const MetricLabels& labels)
{
    Family& f = m_families[name];
    Series& s = f.series[QString::fromUtf8(labelText(labels))];
    if (s.labels.isEmpty())
        s.labels = labels;
    return s;
}

void Metrics::add(const QByteArray& counter, const MetricLabels& labels, double amount)
{
    QMutexLocker lock(&m_mutex);
    series(counter, labels).value += amount;
}

void Metrics::observe(const QByteArray& histogram, const MetricLabels& labels, double seconds)
{
    QMutexLocker lock(&m_mutex);
    Series& s = series(histogram, labels);
    if (s.counts.isEmpty())
        s.counts = QList<quint64>(buckets().size() + 1, 0);
    qsizetype at = 0;
    while (at < buckets().size() && seconds > buckets().at(at))
        ++at;
    ++s.counts[at];
    s.sum += seconds;
    ++s.total;
}

QByteArray Metrics::render() const
{
    // Gauges are read outside the lock: reading may take the database's time.
    QMap<QByteArray, QList<QPair<MetricLabels, double>>> read;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_families.cbegin(); it != m_families.cend(); ++it)
            if (it->read)
                read.insert(it.key(), {});
    }
    for (auto it = read.begin(); it != read.end(); ++it) {
        std::function<QList<QPair<MetricLabels, double>>()> fn;
        {
            QMutexLocker lock(&m_mutex);
            fn = m_families.value(it.key()).read;
        }
        it.value() = fn();
    }

    QMutexLocker lock(&m_mutex);
    QByteArray out;
    for (auto it = m_families.cbegin(); it != m_families.cend(); ++it) {
        const QByteArray& name = it.key();
        const Family& f = it.value();
        const char* type = f.kind == Kind::Counter ? "counter" : f.kind == Kind::Gauge ? "gauge" : "histogram";
        out += "# HELP " + name + ' ' + f.help + "\n# TYPE " + name + ' ' + type + '\n';
        if (f.read) {
            for (const auto& [labels, value] : read.value(name))
                out += name + labelText(labels) + ' ' + number(value) + '\n';
            continue;
        }
        for (const Series& s : f.series) {
            if (f.kind != Kind::Histogram) {
                out += name + labelText(s.labels) + ' ' + number(s.value) + '\n';
                continue;
            }
            quint64 cumulative = 0;
            for (qsizetype i = 0; i <= buckets().size(); ++i) {
                cumulative += s.counts.value(i);
                const QByteArray le = i < buckets().size() ? number(buckets().at(i)) : QByteArray("+Inf");
                out += name + "_bucket" + labelText(s.labels, "le", le) + ' ' + number(double(cumulative)) + '\n';
            }
            out += name + "_sum" + labelText(s.labels) + ' ' + number(s.sum) + '\n';
            out += name + "_count" + labelText(s.labels) + ' ' + number(double(s.total)) + '\n';
        }
    }
    return out;
}

} // namespace srv

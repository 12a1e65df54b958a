#pragma once
// The server's metrics in Prometheus' text format (version 0.0.4): counters and latency
// histograms that the server's parts add to as they work, and gauges read when the page is
// asked for. Label values come from the server's own vocabulary (method names, outcomes,
// authorities), never from what a client sent, so the series stay few.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QString>
#include <functional>

namespace srv {

using MetricLabels = QList<QPair<QByteArray, QString>>;

class Metrics {
public:
    enum class Kind { Counter, Gauge, Histogram };

    // Declares a family; its samples come from add() and observe(), or, for a gauge with
    // read set, from read() each time the page is rendered.
    void declare(const QByteArray& name, Kind kind, const QByteArray& help,
                 std::function<QList<QPair<MetricLabels, double>>()> read = {});

    void add(const QByteArray& counter, const MetricLabels& labels, double amount = 1);
    void observe(const QByteArray& histogram, const MetricLabels& labels, double seconds);

    QByteArray render() const;

    // Seconds: from a few milliseconds to the longest call the server allows.
    static const QList<double>& buckets();

private:
    struct Series {
        MetricLabels labels;
        double value = 0; // counters
        QList<quint64> counts; // histograms: per bucket, not cumulative
        double sum = 0;
        quint64 total = 0;
    };
    struct Family {
        Kind kind = Kind::Counter;
        QByteArray help;
        std::function<QList<QPair<MetricLabels, double>>()> read;
        QMap<QString, Series> series; // by the labels' text, so a page lists them in a stable order
    };
    Series& series(const QByteArray& name, const MetricLabels& labels); // with m_mutex held

    mutable QMutex m_mutex;
    QMap<QByteArray, Family> m_families;
};

} // namespace srv

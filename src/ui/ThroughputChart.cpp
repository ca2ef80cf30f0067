#include "ui/ThroughputChart.h"

#include "control/AdministeredServer.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tolvane::ui {
namespace {

const QColor kSentColour(0, 120, 215);
const QColor kReceivedColour(16, 150, 60);

QString RateText(double bytesPerSecond) {
    if (bytesPerSecond >= 1024.0 * 1024.0) return QString::number(bytesPerSecond / (1024.0 * 1024.0), 'f', 1) + " MB/s";
    return QString::number(bytesPerSecond / 1024.0, 'f', 1) + " kB/s";
}

}  // namespace

void ThroughputHistory::Add(Sample sample) {
    samples_.push_back(sample);
    while (samples_.size() > capacity_) samples_.pop_front();
}

double ThroughputHistory::Peak() const {
    double peak = 1024.0;
    for (const Sample& sample : samples_) peak = std::max({peak, sample.sent, sample.received});
    return peak;
}

ThroughputChart::ThroughputChart(control::AdministeredServer& server, QWidget* parent)
    : QWidget(parent), server_(server) {
    setObjectName("throughputChart");
    setMinimumHeight(90);
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &ThroughputChart::SampleNow);
    timer_.start();
}

ThroughputHistory::Sample ThroughputChart::Measure(control::AdministeredServer& server) {
    ThroughputHistory::Sample sample;
    for (const monitor::MonitorRow& row : server.Registry().Transfers().Rows()) {
        const auto transfer = monitor::TransferOf(row.owner);
        if (!transfer) continue;
        const bool upload = row.cells.size() > monitor::TransferColumns::Action &&
                            row.cells[monitor::TransferColumns::Action] == "Uploading";
        (upload ? sample.received : sample.sent) += transfer->BytesPerSecond();
    }
    return sample;
}

void ThroughputChart::SampleNow() {
    history_.Add(Measure(server_));
    update();
}

void ThroughputChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().base());
    const QRectF plot = QRectF(rect()).adjusted(6, 22, -6, -6);
    painter.setPen(QPen(palette().mid().color(), 1, Qt::DotLine));
    for (int i = 0; i <= 4; ++i) {
        const double y = plot.top() + plot.height() * i / 4.0;
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    const auto& samples = history_.Samples();
    const double peak = history_.Peak();
    const double step = plot.width() / static_cast<double>(kSeconds - 1);
    const auto line = [&](double ThroughputHistory::Sample::*rate, const QColor& colour) {
        QPainterPath path;
        // The newest sample sits at the right edge.
        const double start = plot.right() - step * static_cast<double>(samples.size() - 1);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const QPointF point(start + step * static_cast<double>(i), plot.bottom() - plot.height() * (samples[i].*rate) / peak);
            if (i == 0) path.moveTo(point);
            else path.lineTo(point);
        }
        painter.setPen(QPen(colour, 2));
        painter.drawPath(path);
    };
    if (!samples.empty()) {
        line(&ThroughputHistory::Sample::sent, kSentColour);
        line(&ThroughputHistory::Sample::received, kReceivedColour);
    }
    const auto latest = samples.empty() ? ThroughputHistory::Sample{} : samples.back();
    painter.setPen(kSentColour);
    painter.drawText(QPointF(8, 15), "Sent " + RateText(latest.sent));
    painter.setPen(kReceivedColour);
    painter.drawText(QPointF(150, 15), "Received " + RateText(latest.received));
    painter.setPen(palette().text().color());
    painter.drawText(QRectF(rect()).adjusted(0, 3, -8, 0), Qt::AlignRight | Qt::AlignTop,
                     "last 5 minutes, top " + RateText(peak));
}

}  // namespace tolvane::ui

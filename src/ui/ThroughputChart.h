#pragma once

#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <deque>

namespace tolvane::control {
class AdministeredServer;
}

namespace tolvane::ui {

// The last minutes of the server's throughput, one sample a second: the sum of the running
// downloads' rates (sent) and of the uploads' (received).
class ThroughputHistory {
public:
    struct Sample {
        double sent = 0;
        double received = 0;
    };

    explicit ThroughputHistory(std::size_t capacity) : capacity_(capacity) {}

    void Add(Sample sample);
    const std::deque<Sample>& Samples() const { return samples_; }
    // The largest rate in view, never below 1 kB/s, so the scale does not jump at a trickle.
    double Peak() const;

private:
    const std::size_t capacity_;
    std::deque<Sample> samples_;
};

// Draws the history as two lines with a legend; samples the server once a second.
class ThroughputChart : public QWidget {
    Q_OBJECT

public:
    static constexpr std::size_t kSeconds = 300;

    explicit ThroughputChart(control::AdministeredServer& server, QWidget* parent = nullptr);

    const ThroughputHistory& History() const { return history_; }
    // Takes a sample now (the timer's work; tests call it directly).
    void SampleNow();
    // What the running transfers move per second right now.
    static ThroughputHistory::Sample Measure(control::AdministeredServer& server);

protected:
    void paintEvent(QPaintEvent* event) override;
    QSize sizeHint() const override { return {400, 130}; }

private:
    control::AdministeredServer& server_;
    ThroughputHistory history_{kSeconds};
    QTimer timer_;
};

}  // namespace tolvane::ui

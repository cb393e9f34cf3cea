// Benchmark: dragging a selection of 50 cover items across the design surface.
//   zn_bench_designer [STEPS]
// Each step sends one mouse move to the surface and repaints it synchronously (the move's handling
// and the paint are timed together); the press, the release and the repaint that shows the items in
// their new places are timed as frames too. The yardstick is Qt's QGraphicsView with the same 50
// shapes and texts, all selected, moved by the same steps. A frame at 120 frames a second has 8.33 ms.
// Run with QT_QPA_PLATFORM=offscreen.
#include "cover/gui/design_surface.h"

#include <QApplication>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace zn::cover;
using namespace zn::cover::gui;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct TFrames {
    std::vector<double> ms;
    double Median()
    {
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
    double Max() const { return *std::max_element(ms.begin(), ms.end()); }
    size_t MaxAt() const { return static_cast<size_t>(std::max_element(ms.begin(), ms.end()) - ms.begin()); }
    size_t Over(double bound) const
    {
        return static_cast<size_t>(std::count_if(ms.begin(), ms.end(), [bound](double v) { return v >= bound; }));
    }
};

double Timed(const std::function<void()>& frame)
{
    const auto t = Clock::now();
    frame();
    return Ms(Clock::now() - t);
}

// Ten columns of five: labels, fields, rectangles, round rectangles and lines.
QRect Cell(int i) { return QRect(20 + (i % 10) * 70, 40 + (i / 10) * 60, 60, 30); }

TFrames DragOurs(int steps)
{
    int64_t now = 1000;
    TFaxCoverPanelX surface(nullptr, [&now] { return now; });
    surface.resize(TFaxBasePanel::kPageWidth, TFaxBasePanel::kPageHeight);
    surface.show();
    for (int i = 0; i < 50; ++i) {
        std::unique_ptr<TFaxGraphicControl> item;
        switch (i % 5) {
        case 0: {
            auto label = std::make_unique<TFaxCoverLabel>();
            label->Caption = "Label " + std::to_string(i);
            item = std::move(label);
            break;
        }
        case 1: item = std::make_unique<TFaxCoverField>(); break;
        case 2: item = std::make_unique<TFaxCoverShapes>(); break;
        case 3: {
            auto shape = std::make_unique<TFaxCoverShapes>();
            shape->Shape = stRoundRect;
            item = std::move(shape);
            break;
        }
        default: item = std::make_unique<TFaxCoverLine>(); break;
        }
        surface.PlaceItem(std::move(item), Cell(i));
    }
    surface.SelectAll();
    QApplication::processEvents();
    surface.repaint();
    const auto send = [&surface](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(surface.mapToGlobal(at)), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&surface, &e);
    };
    TFrames frames;
    QPoint at(50, 50);
    frames.ms.push_back(Timed([&] {
        send(QEvent::MouseButtonPress, at, Qt::LeftButton);
        surface.repaint();
    }));
    now += 200;
    for (int i = 0; i < steps; ++i) {
        at += QPoint(0, 400 / steps + 1);
        frames.ms.push_back(Timed([&] {
            send(QEvent::MouseMove, at, Qt::LeftButton);
            surface.repaint();
        }));
    }
    frames.ms.push_back(Timed([&] {
        send(QEvent::MouseButtonRelease, at, Qt::NoButton);
        surface.repaint();
    }));
    // The handle fits itself around the moved items in an event of its own.
    frames.ms.push_back(Timed([&] {
        QApplication::processEvents();
        surface.repaint();
    }));
    const TFaxGraphicControl& first = *surface.Items().front();
    if (first.Top <= Cell(0).top())
        std::fprintf(stderr, "the drag moved nothing\n");
    return frames;
}

TFrames DragPeer(int steps)
{
    QGraphicsScene scene(0, 0, TFaxBasePanel::kPageWidth, TFaxBasePanel::kPageHeight);
    std::vector<QGraphicsItem*> items;
    for (int i = 0; i < 50; ++i) {
        const QRect r = Cell(i);
        QGraphicsItem* item;
        if (i % 5 < 2) {
            auto* text =
                scene.addSimpleText(i % 5 == 0 ? QString("Label %1").arg(i) : QString("[Date]"), QFont("Arial", 10));
            text->setPos(r.topLeft());
            item = text;
        } else {
            item = scene.addRect(r, QPen(Qt::black));
        }
        item->setFlags(QGraphicsItem::ItemIsSelectable | QGraphicsItem::ItemIsMovable);
        item->setSelected(true);
        items.push_back(item);
    }
    QGraphicsView view(&scene);
    view.resize(TFaxBasePanel::kPageWidth + 4, TFaxBasePanel::kPageHeight + 4);
    view.show();
    QApplication::processEvents();
    view.viewport()->repaint();
    TFrames frames;
    for (int i = 0; i < steps; ++i) {
        frames.ms.push_back(Timed([&] {
            for (QGraphicsItem* item : items)
                item->moveBy(0, 400 / steps + 1);
            view.viewport()->repaint();
        }));
    }
    return frames;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
    TFrames ours = DragOurs(steps);
    TFrames peer = DragPeer(steps);
    std::printf("%-40s %10s %10s %8s %8s %8s\n", "drag of 50 selected items, per repaint", "median ms", "max ms",
                "max at", ">= 8 ms", "frames");
    std::printf("%-40s %10.3f %10.3f %8zu %8zu %8zu\n", "zn design surface", ours.Median(), ours.Max(), ours.MaxAt(),
                ours.Over(8.0), ours.ms.size());
    std::printf("%-40s %10.3f %10.3f %8zu %8zu %8zu\n", "QGraphicsView (yardstick)", peer.Median(), peer.Max(),
                peer.MaxAt(), peer.Over(8.0), peer.ms.size());
    std::printf("zn press frame %.3f ms, release frame %.3f ms, refit frame %.3f ms\n", ours.ms.front(),
                ours.ms[ours.ms.size() - 2], ours.ms.back());
    std::printf("ratio of medians (zn / QGraphicsView): %.2f\n", ours.Median() / peer.Median());
    const bool fast = ours.Max() < 8.0;
    std::printf("every zn repaint under 8 ms: %s\n", fast ? "yes" : "no");
    return fast ? 0 : 1;
}

// Shows the GPS map pane in a window with a route from a GPX file and the pin
// at its first point; optionally draws a stroke over it. With --out it saves
// the window to a PNG once everything has settled and quits.
//
//   map_demo [--gpx FILE] [--draw [--done]] [--hybrid] [--view LAT,LON,ZOOM] [--out FILE.png]

#include "location/GPSSplitView.h"
#include "location/GPSViewController.h"
#include "location/GPXParser.h"
#include "location/LocationSimulator.h"
#include "location/StepScheduler.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <QMouseEvent>
#include <QTimer>

#include <cstdio>

using namespace corvane;

namespace {

void drag(QWidget *target, const std::vector<QPointF> &points)
{
    for (size_t i = 0; i < points.size(); ++i) {
        const QEvent::Type type = i == 0 ? QEvent::MouseButtonPress : QEvent::MouseMove;
        QMouseEvent event(type, points[i], target->mapToGlobal(points[i]), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"gpx", "GPX file to load", "file"});
    parser.addOption({"out", "PNG to save the window to", "file"});
    parser.addOption({"draw", "Draw a stroke over the map"});
    parser.addOption({"done", "Finish the drawing, making it the route"});
    parser.addOption({"hybrid", "Show the hybrid style"});
    parser.addOption({"view", "Centre and zoom to show instead of the route", "lat,lon,zoom"});
    parser.process(app);

    LocationSimulator::Environment environment;
    environment.clock = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
    environment.scheduler = std::make_shared<TimerStepScheduler>();
    environment.sink = [](const Location &, const QStringList &) {};
    environment.devices = [] { return LocationSimulator::ToolsetDevices{}; };
    auto engine = LocationSimulator::make(environment);

    std::vector<Location> route;
    if (parser.isSet("gpx")) {
        try {
            route = GPXParser(std::filesystem::path(parser.value("gpx").toStdString()))
                        .parse()
                        .locations;
        } catch (const GPXParser::Failure &failure) {
            std::fprintf(stderr, "%s\n", failure.what());
            return 1;
        }
    }

    QMainWindow window;
    auto *pane = new GPSViewController({engine, {}, {}});
    auto *split = new GPSSplitView(pane, nullptr, true);
    window.setCentralWidget(split);
    window.resize(900, 620);
    window.setWindowTitle("GPS");
    window.show();

    QTimer::singleShot(300, &window, [&] {
        engine->useWithLocations(route);
        if (parser.isSet("hybrid"))
            pane->toggleMapStyle();
        const QStringList view = parser.value("view").split(',');
        if (view.size() == 3)
            pane->mapView()->setCentre(QGeoCoordinate(view[0].toDouble(), view[1].toDouble()),
                                       view[2].toDouble(), false);
    });
    if (parser.isSet("draw")) {
        QTimer::singleShot(1200, &window, [pane] {
            pane->beginDraw(DrawMode::bike);
            const QSizeF size = pane->size();
            std::vector<QPointF> stroke;
            for (int i = 0; i <= 60; ++i) {
                const double t = i / 60.0;
                stroke.emplace_back(size.width() * (0.25 + 0.5 * t),
                                    size.height() * (0.7 - 0.35 * std::sin(t * 3.14159)));
            }
            drag(pane->captureView(), stroke);
        });
        if (parser.isSet("done"))
            QTimer::singleShot(1500, &window, [pane] { pane->doneDraw(); });
    }
    if (parser.isSet("out")) {
        const QString out = parser.value("out");
        QTimer::singleShot(2000, &window, [&window, out] {
            window.grab().save(out);
            QApplication::quit();
        });
    }
    return app.exec();
}

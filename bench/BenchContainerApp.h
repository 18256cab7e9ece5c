#pragma once

// An application of a shut-down simulated device whose data container is a
// folder the benchmark fills, for the archive and task benchmarks. No
// simulated Xcode stands behind it: the containers are set directly, laid
// out where a simulator keeps them, so that the task journal takes them.

#include "model/Application.h"
#include "model/Container.h"
#include "model/Device.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace corvane::bench {

struct ContainerApp {
    static constexpr const char *udid = "0C6F1E2A-1111-4222-8333-444455556666";

    std::shared_ptr<Device> device;
    std::shared_ptr<Application> application;
    std::shared_ptr<Container> container;
    // The data container's folder.
    QString data;

    // The bundle goes below `root`/apps, the home (with the devices folder)
    // to `root`/home and the task journal to `root`/state: a benchmark never
    // touches the user's own. Without a root nothing is made.
    ContainerApp(const QString &root, const QString &identifier, const QString &name)
    {
        if (root.isEmpty())
            return;
        SystemPaths paths = SystemPaths::current();
        paths.home = root + "/home";
        paths.stateDir = root + "/state";
        SystemPaths::setCurrent(paths);
        const QString bundle = root + "/apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/" + name + ".app";
        QDir().mkpath(bundle);
        PropertyList::writeFile(
            bundle + "/Info.plist",
            QVariantMap{{"CFBundleIdentifier", identifier}, {"CFBundleName", name}});
        device = Device::initFromListLine(QString("iPhone 15 (%1) (Shutdown)").arg(udid),
                                          {Runtime::System::iOS, "17.2"}, nullptr);
        application = Application::make(QUrl::fromLocalFile(bundle + "/"), device, nullptr,
                                        Application::SimulatorCheck::byCaller);
        application->setCachedGroupContainers(std::vector<std::shared_ptr<Container>>{});
        data = paths.coreSimulatorDevices() + "/" + udid +
               "/data/Containers/Data/Application/4B1D2C3E-5A6F-4788-9A0B-C1D2E3F4A5B6";
        QDir().mkpath(data);
        container = std::make_shared<Container>(identifier, "AppData", QUrl::fromLocalFile(data));
        application->setCachedDataContainer(container);
    }
};

} // namespace corvane::bench

#pragma once

// An application of a shut-down simulated device whose data container is a
// folder the benchmark fills, for the archive and task benchmarks. No
// simulated Xcode stands behind it: the containers are set directly.

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
    std::shared_ptr<Device> device;
    std::shared_ptr<Application> application;
    std::shared_ptr<Container> container;

    // The bundle goes below `root`/apps, the home to `root`/home, and the
    // data container is `root`/data.
    ContainerApp(const QString &root, const QString &identifier, const QString &name)
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = root + "/home";
        SystemPaths::setCurrent(paths);
        const QString bundle = root + "/apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/" + name + ".app";
        QDir().mkpath(bundle);
        PropertyList::writeFile(
            bundle + "/Info.plist",
            QVariantMap{{"CFBundleIdentifier", identifier}, {"CFBundleName", name}});
        device =
            Device::initFromListLine("iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                                     {Runtime::System::iOS, "17.2"}, nullptr);
        application = Application::make(QUrl::fromLocalFile(bundle + "/"), device, nullptr,
                                        Application::SimulatorCheck::byCaller);
        application->setCachedGroupContainers(std::vector<std::shared_ptr<Container>>{});
        container =
            std::make_shared<Container>(identifier, "AppData", QUrl::fromLocalFile(root + "/data"));
        application->setCachedDataContainer(container);
    }
};

} // namespace corvane::bench

#include "model/Application.h"

#include "core/Toolset.h"
#include "model/Container.h"
#include "model/Device.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <exception>

namespace corvane {

namespace {

// The toolset to list containers with, when the application may have any.
std::shared_ptr<Toolset> listingToolset(const Application &application)
{
    if (!application.device())
        return nullptr;
    auto toolset = application.toolset();
    if (!toolset || !toolset->supports(Toolset::Command::containerListing))
        return nullptr;
    const QVariant packageType = application.infoDictionary().value("CFBundlePackageType");
    if (packageType.typeId() == QMetaType::QString && packageType.toString() == "FMWK")
        return nullptr;
    if (!application.identifier())
        return nullptr;
    return toolset;
}

std::optional<QString> runListing(const Application &application, const char *kind)
{
    const auto toolset = listingToolset(application);
    if (!toolset)
        return std::nullopt;
    const auto device = application.device();
    if (!device)
        return std::nullopt;
    try {
        return toolset->run({"get_app_container", device->udid(), *application.identifier(), kind});
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// Only an absolute path names the folder simctl meant: an empty or relative
// one would be taken from the working directory, which an erase would empty.
std::optional<QUrl> containerUrl(const QString &path)
{
    if (!QDir::isAbsolutePath(path))
        return std::nullopt;
    return QUrl::fromLocalFile(QDir::cleanPath(path));
}

} // namespace

void Application::loadDataContainer()
{
    if (const auto cached = cachedDataContainer();
        cached && QFileInfo::exists(cached->url().toLocalFile()))
        return;
    const auto output = runListing(*this, "data");
    if (!output)
        return;
    const auto url = containerUrl(output->trimmed());
    if (!url)
        return;
    setCachedDataContainer(
        std::make_shared<Container>(*identifier(), Container::dataContainerIdentifier, *url));
}

void Application::loadGroupContainers()
{
    if (cachedGroupContainers())
        return;
    const auto output = runListing(*this, "groups");
    if (!output)
        return;

    static const QRegularExpression lineBreaks(
        QStringLiteral("[\\n\\v\\f\\r\\x{85}\\x{2028}\\x{2029}]"));
    // The group identifier, then the rest of the line: a path may hold blanks.
    static const QRegularExpression groupLine(QStringLiteral("^\\s*(\\S+)\\s+(.*)$"),
                                              QRegularExpression::UseUnicodePropertiesOption);
    std::vector<std::shared_ptr<Container>> containers;
    for (const QString &line : output->split(lineBreaks)) {
        const QRegularExpressionMatch match = groupLine.match(line);
        if (!match.hasMatch())
            continue;
        const auto url = containerUrl(match.captured(2).trimmed());
        if (!url)
            continue;
        const QString group = match.captured(1);
        containers.push_back(std::make_shared<Container>(group, group, *url));
    }
    setCachedGroupContainers(std::move(containers));
}

std::shared_ptr<Container> Application::dataContainer()
{
    loadDataContainer();
    return cachedDataContainer();
}

std::vector<std::shared_ptr<Container>> Application::groupContainers()
{
    loadGroupContainers();
    return cachedGroupContainers().value_or(std::vector<std::shared_ptr<Container>>());
}

} // namespace corvane

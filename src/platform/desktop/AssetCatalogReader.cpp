#include "platform/desktop/AssetCatalogReader.h"

#include <mutex>

namespace corvane {

namespace {

std::mutex &factoryMutex()
{
    static std::mutex mutex;
    return mutex;
}

AssetCatalogReader::Factory &installedFactory()
{
    static AssetCatalogReader::Factory factory;
    return factory;
}

} // namespace

std::unique_ptr<AssetCatalogReader> AssetCatalogReader::make()
{
    Factory factory;
    {
        std::lock_guard lock(factoryMutex());
        factory = installedFactory();
    }
    // Linux has no reader of compiled catalogs.
    return factory ? factory() : nullptr;
}

void AssetCatalogReader::setFactory(Factory factory)
{
    std::lock_guard lock(factoryMutex());
    installedFactory() = std::move(factory);
}

} // namespace corvane

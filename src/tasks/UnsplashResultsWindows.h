#pragma once

#include "tasks/UnsplashSearchResults.h"

#include <QString>

#include <memory>
#include <vector>

namespace corvane {

class WindowController;

// The windows that show the photos an import used, one per import task.
class UnsplashResultsWindows {
public:
    virtual ~UnsplashResultsWindows() = default;

    // The window kept for `key` (a task's ID, upper case); when there is
    // none, a new one showing `images`. The caller shows it.
    virtual std::shared_ptr<WindowController>
    windowFor(const std::vector<UnsplashSearchResultsImage> &images, const QString &key) = 0;

    // Until the results window is built: windows that show nothing.
    static std::shared_ptr<UnsplashResultsWindows> shared();
    static void setShared(std::shared_ptr<UnsplashResultsWindows> windows);
};

} // namespace corvane

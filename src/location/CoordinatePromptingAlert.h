#pragma once

#include "platform/desktop/AlertPresenter.h"

#include <QGeoCoordinate>

#include <optional>

namespace corvane {

// The small modal prompt for a typed coordinate: "Go" is enabled only while
// the text is a valid coordinate, so the prompt can otherwise only be
// cancelled. Its texts are not localized.
class CoordinatePromptingAlert {
public:
    static constexpr int goButton = 0;
    static constexpr int cancelButton = 1;

    static AlertSpec spec();
    // The typed coordinate when "Go" answered the prompt with a valid text.
    static std::optional<QGeoCoordinate> coordinate(const AlertResponse &response);
};

} // namespace corvane

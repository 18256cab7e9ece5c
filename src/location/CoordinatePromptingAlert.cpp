#include "location/CoordinatePromptingAlert.h"

#include "location/CoordinateText.h"

namespace corvane {

AlertSpec CoordinatePromptingAlert::spec()
{
    AlertSpec spec;
    // A question, not a warning: the plain icon.
    spec.style = AlertSpec::Style::Informational;
    spec.messageText = QStringLiteral("Enter Coordinate");
    AlertSpec::Button go{QStringLiteral("Go"), AlertSpec::KeyEquivalent::Return};
    go.enabled = false;
    spec.buttons = {go, {QStringLiteral("Cancel")}};
    AlertSpec::TextAccessory field;
    field.placeholder = QStringLiteral("37.3350703, -122.0091543");
    field.size = QSize(200, 24);
    field.validator = [](const QString &text) { return parseCoordinateText(text).has_value(); };
    spec.accessory = field;
    return spec;
}

std::optional<QGeoCoordinate> CoordinatePromptingAlert::coordinate(const AlertResponse &response)
{
    if (response.buttonIndex != goButton)
        return std::nullopt;
    return parseCoordinateText(response.text);
}

} // namespace corvane

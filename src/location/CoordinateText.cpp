#include "location/CoordinateText.h"

#include "core/NumberParsing.h"

#include <QByteArray>

#include <cmath>
#include <vector>

namespace corvane {

std::optional<QGeoCoordinate> parseCoordinateText(QStringView text)
{
    std::vector<double> numbers;
    for (const QStringView piece : text.split(u',')) {
        const QByteArray utf8 = piece.trimmed().toUtf8();
        if (const std::optional<double> value =
                parseCDouble(std::string_view(utf8.constData(), std::size_t(utf8.size()))))
            numbers.push_back(*value);
        if (numbers.size() > 2)
            return std::nullopt;
    }
    if (numbers.size() != 2)
        return std::nullopt;
    const double latitude = numbers[0];
    const double longitude = numbers[1];
    // Written so that a NaN fails every test.
    if (!(std::fabs(latitude) <= 90) || !(std::fabs(longitude) <= 180) ||
        (latitude == 0 && longitude == 0))
        return std::nullopt;
    return QGeoCoordinate(latitude, longitude);
}

} // namespace corvane

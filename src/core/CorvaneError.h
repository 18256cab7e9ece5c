#pragma once

#include <QString>

#include <stdexcept>

namespace corvane {

// A failure of an outside command, in the program's own error domain.
class CorvaneError : public std::runtime_error {
public:
    static constexpr const char *domain = "com.quendrith.corvane";
    static constexpr int toolFailure = 1001;

    explicit CorvaneError(const QString &description, int code = toolFailure)
        : std::runtime_error(description.toStdString()), m_description(description), m_code(code)
    {
    }

    int code() const { return m_code; }
    QString description() const { return m_description; }

private:
    QString m_description;
    int m_code;
};

} // namespace corvane

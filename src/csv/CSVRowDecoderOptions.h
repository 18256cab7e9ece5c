#pragma once

#include "csv/Date.h"

#include <QByteArray>

#include <any>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace corvane {

// The settings of a row decoder. Closures are held by value; copying a
// strategy copies them.
struct CSVRowDecoderOptions {
    struct BoolDecodingStrategy {
        // `standard`: "true" and "false" exactly; `custom`: the closure,
        // whose exceptions pass through.
        enum class Kind { standard, custom };
        static BoolDecodingStrategy standard() { return {}; }
        static BoolDecodingStrategy custom(std::function<bool(const std::string &)> closure)
        {
            return {Kind::custom, std::move(closure)};
        }
        Kind kind = Kind::standard;
        std::function<bool(const std::string &)> closure;
    };

    struct DateDecodingStrategy {
        // `deferredToDate`: the text as a Double of seconds since
        // 2001-01-01 UTC, read as a single value. `formatted`: the caller's
        // parser, whose "no date" is an error. `custom`: the closure, whose
        // exceptions pass through.
        enum class Kind {
            deferredToDate,
            secondsSince1970,
            millisecondsSince1970,
            iso8601,
            formatted,
            custom,
        };
        using Formatter = std::function<std::optional<Date>(const std::string &)>;
        using Closure = std::function<Date(const std::string &)>;

        static DateDecodingStrategy deferredToDate() { return {}; }
        static DateDecodingStrategy secondsSince1970() { return of(Kind::secondsSince1970); }
        static DateDecodingStrategy millisecondsSince1970()
        {
            return of(Kind::millisecondsSince1970);
        }
        static DateDecodingStrategy iso8601() { return of(Kind::iso8601); }
        static DateDecodingStrategy formatted(Formatter formatter)
        {
            DateDecodingStrategy strategy = of(Kind::formatted);
            strategy.formatter = std::move(formatter);
            return strategy;
        }
        static DateDecodingStrategy custom(Closure closure)
        {
            DateDecodingStrategy strategy = of(Kind::custom);
            strategy.closure = std::move(closure);
            return strategy;
        }
        Kind kind = Kind::deferredToDate;
        Formatter formatter;
        Closure closure;

    private:
        static DateDecodingStrategy of(Kind kind)
        {
            DateDecodingStrategy strategy;
            strategy.kind = kind;
            return strategy;
        }
    };

    struct DataDecodingStrategy {
        enum class Kind { base64, custom };
        static DataDecodingStrategy base64() { return {}; }
        static DataDecodingStrategy custom(std::function<QByteArray(const std::string &)> closure)
        {
            return {Kind::custom, std::move(closure)};
        }
        Kind kind = Kind::base64;
        std::function<QByteArray(const std::string &)> closure;
    };

    // How header names become the names keys are looked up by.
    struct KeyDecodingStrategy {
        enum class Kind { useDefaultKeys, convertFromSnakeCase, custom };
        static KeyDecodingStrategy useDefaultKeys() { return {}; }
        static KeyDecodingStrategy convertFromSnakeCase()
        {
            return {Kind::convertFromSnakeCase, {}};
        }
        static KeyDecodingStrategy custom(std::function<std::string(const std::string &)> closure)
        {
            return {Kind::custom, std::move(closure)};
        }
        Kind kind = Kind::useDefaultKeys;
        std::function<std::string(const std::string &)> closure;
    };

    // Which field texts count as no value: `empty` the empty text, `never`
    // none, `custom` those the closure answers true for.
    struct NilDecodingStrategy {
        enum class Kind { empty, never, custom };
        static NilDecodingStrategy empty() { return {}; }
        static NilDecodingStrategy never() { return {Kind::never, {}}; }
        static NilDecodingStrategy custom(std::function<bool(const std::string &)> closure)
        {
            return {Kind::custom, std::move(closure)};
        }
        Kind kind = Kind::empty;
        std::function<bool(const std::string &)> closure;
    };

    using UserInfo = std::map<std::string, std::any>;

    BoolDecodingStrategy boolDecodingStrategy;
    DateDecodingStrategy dateDecodingStrategy;
    DataDecodingStrategy dataDecodingStrategy;
    KeyDecodingStrategy keyDecodingStrategy;
    NilDecodingStrategy nilDecodingStrategy;
    UserInfo userInfo;
};

} // namespace corvane

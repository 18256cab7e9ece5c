#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// The photographer of a photo.
struct UnsplashSearchResultsUser {
    struct Links {
        QUrl html;
        friend bool operator==(const Links &, const Links &) = default;
    };

    QString name;
    QString username;
    QString id;
    Links links;

    friend bool operator==(const UnsplashSearchResultsUser &,
                           const UnsplashSearchResultsUser &) = default;
};

// One photo of a search reply.
struct UnsplashSearchResultsImage {
    // The photo's renditions.
    struct ImageURLs {
        QUrl raw;
        QUrl full;
        QUrl regular;
        QUrl small;
        QUrl thumb;
        friend bool operator==(const ImageURLs &, const ImageURLs &) = default;
    };
    struct ImageLinks {
        // The photo's page.
        QUrl html;
        // Requested when the photo is used.
        QUrl download_location;
        friend bool operator==(const ImageLinks &, const ImageLinks &) = default;
    };

    QString id;
    std::int64_t width = 0;
    std::int64_t height = 0;
    // As the service sent it.
    QString color;
    UnsplashSearchResultsUser user;
    ImageURLs urls;
    ImageLinks links;

    friend bool operator==(const UnsplashSearchResultsImage &,
                           const UnsplashSearchResultsImage &) = default;
};

// The reply of a photo search.
struct UnsplashSearchResults {
    // How many photos a search asks for; a reply may list more.
    static constexpr int pageSize = 10;

    std::int64_t total = 0;
    std::vector<UnsplashSearchResultsImage> results;

    // Every member listed above is required with its JSON type (integers as
    // integral numbers, URLs absolute); one bad photo fails the whole reply.
    // Other members are ignored. Nothing on failure, with the reason in
    // `error` when given.
    static std::optional<UnsplashSearchResults> decode(const QByteArray &json,
                                                       QString *error = nullptr);

    friend bool operator==(const UnsplashSearchResults &, const UnsplashSearchResults &) = default;
};

} // namespace corvane

#pragma once

#include <QByteArray>
#include <QList>

#include <curl/curl.h>

#include <utility>

namespace corvane {

// What one request of a BoundedNetworkAccessManager reply asks of libcurl.
struct CurlEasySetup {
    // Encoded, without user info or fragment.
    QByteArray target;
    QByteArray verb;
    // Sent from here: it lives as long as the transfer.
    const QByteArray *body = nullptr;
    // The caller's fields, framing fields left out.
    QList<std::pair<QByteArray, QByteArray>> fields;
    // Empty: straight to the server.
    QByteArray proxy;
    // Milliseconds; 0 for none.
    long connectTimeout = 0;
    // The only authorities trusted, in PEM; empty for the system's.
    QByteArray authorities;
    // Of CURL_ERROR_SIZE bytes.
    char *errorBuffer = nullptr;
    // Handed to every callback.
    void *owner = nullptr;
    curl_write_callback onHeader = nullptr;
    curl_write_callback onBody = nullptr;
    curl_xferinfo_callback onProgress = nullptr;

    // Fields libcurl writes itself: the caller's are left out.
    static bool isFramingField(const QByteArray &lowerName);

    // Sets `easy` up; the field list it returns is the transfer's to free.
    curl_slist *apply(CURL *easy) const;
};

} // namespace corvane

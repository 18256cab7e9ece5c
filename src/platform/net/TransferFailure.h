#pragma once

#include "platform/net/BoundedTransfer.h"

#include <QNetworkReply>
#include <QString>

#include <curl/curl.h>

namespace corvane {

// Why a transfer of BoundedNetworkAccessManager failed, as a Qt reply tells
// it: Qt's error code, and a text in the transport's own words.
struct TransferFailure {
    QNetworkReply::NetworkError code = QNetworkReply::NoError;
    QString text;
    // The bound it crossed, if any.
    BoundedTransfer::Overrun overrun = BoundedTransfer::Overrun::none;

    static const TransferFailure canceled;

    static const QString headTooLargeText;
    static const QString headMalformedText;
    static const QString trailerTooLargeText;
    static const QString notHttpText;
    static const QString cutShortText;
    static const QString setUpText;

    // Where the reply stood when libcurl ended its transfer.
    struct Moment {
        bool headEnded = false;
        bool http2 = false;
        bool chunked = false;
        bool viaProxy = false;
    };

    // A transfer libcurl ended with `result`.
    static TransferFailure of(CURLcode result, long osError, const char *detail, const QUrl &url,
                              const Moment &moment);
    // An error status, as Qt's own transport reports it.
    static QNetworkReply::NetworkError errorForStatus(int status);
    static TransferFailure ofStatus(int status, const QUrl &url, const QByteArray &reason);
};

} // namespace corvane

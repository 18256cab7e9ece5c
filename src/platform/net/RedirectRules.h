#pragma once

#include "platform/net/TransferFailure.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QUrl>

namespace corvane {

// Which redirects a reply of BoundedNetworkAccessManager follows, and what
// goes with it to where it leads.
struct RedirectRules {
    enum class Kind { deliver, follow, refused };
    struct Decision {
        Kind kind = Kind::deliver;
        // Where it leads; set for a manual policy too.
        QUrl target;
        TransferFailure refusal;
    };

    static bool isRedirect(int status);
    // Fields that name who asks: not for another origin.
    static bool isCredentialField(const QByteArray &lowerName);
    static bool sameOrigin(const QUrl &a, const QUrl &b);
    // A redirect from `from` to its Location field `location`, after
    // `redirects` others.
    static Decision decide(const QUrl &from, const QByteArray &location,
                           QNetworkRequest::RedirectPolicy policy, int redirects, int maximum);
};

} // namespace corvane

#include "platform/net/CurlEasySetup.h"

#include "platform/net/BodyInflater.h"

namespace corvane {

namespace {

// A Content-Length past this fails, where libcurl would otherwise read an
// overflowing one up to the close.
constexpr curl_off_t maximumDeclaredLength = curl_off_t(1) << 62;

} // namespace

bool CurlEasySetup::isFramingField(const QByteArray &lowerName)
{
    return lowerName == "host" || lowerName == "connection" || lowerName == "content-length" ||
           lowerName == "transfer-encoding" || lowerName == "expect";
}

curl_slist *CurlEasySetup::apply(CURL *easy) const
{
    curl_easy_setopt(easy, CURLOPT_URL, target.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, owner);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, owner);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, owner);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    // A proxy's reply to CONNECT comes through onHeader, where a refusal
    // ends the transfer before libcurl reads a body of it that may have
    // no end.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.constData());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    // The deadlines hold inside libcurl too, where it holds the thread
    // (onProgress runs there). No low-speed limit: it counts the bytes
    // read, and a compressed body may be inflated for long from what came
    // in one read.
    if (connectTimeout > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
    // Removing a transfer that is still resolving a name leaves the
    // resolver's thread to end alone rather than waiting for it.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    // A request waits for a connection it can share rather than opening
    // another at once.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    // Bodies come as they were sent and are inflated by the reply, only as
    // far as its reader has room: libcurl would inflate a whole input block
    // at once and hold what its reader has no room for.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, maximumDeclaredLength);

    const bool sendsBody =
        (body && !body->isEmpty()) || verb == "POST" || verb == "PUT" || verb == "PATCH";
    if (verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (sendsBody) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body ? body->size() : 0));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body ? body->constData() : "");
        if (verb != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        if (verb != "GET")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.constData());
    }

    curl_slist *list = nullptr;
    bool typed = false;
    bool coded = false;
    for (const auto &[name, value] : fields) {
        typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
        coded = coded || name.compare("accept-encoding", Qt::CaseInsensitive) == 0;
        // "Name;" is how libcurl sends a field with no value.
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        list = curl_slist_append(list, line.constData());
    }
    if (!coded)
        list = curl_slist_append(
            list, (QByteArray("Accept-Encoding: ") + BodyInflater::acceptedCodings).constData());
    // Neither a form type of libcurl's nor a wait for "100 Continue".
    if (sendsBody && !typed)
        list = curl_slist_append(list, "Content-Type:");
    list = curl_slist_append(list, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    if (!authorities.isEmpty()) {
        curl_blob blob{const_cast<char *>(authorities.constData()), size_t(authorities.size()),
                       CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    return list;
}

} // namespace corvane

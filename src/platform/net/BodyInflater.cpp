#include "platform/net/BodyInflater.h"

#include <QList>

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <climits>

namespace corvane {

const QByteArray BodyInflater::acceptedCodings = "deflate, gzip, br, zstd";
const QString BodyInflater::malformedText = QStringLiteral("The reply's body is malformed.");
const QString BodyInflater::unknownCodingText =
    QStringLiteral("The reply is compressed in an unknown way.");
const QString BodyInflater::tooManyCodingsText =
    QStringLiteral("The reply is compressed too many times.");

class BodyInflater::Decoder {
public:
    enum class Result { going, ended, malformed };

    virtual ~Decoder() = default;
    // Decodes from `in` into `out`, moving both on by what it took and made.
    virtual Result run(const uchar *&in, size_t &inLeft, uchar *&out, size_t &outLeft) = 0;
    virtual bool ended() const = 0;
};

namespace {

using Decoder = BodyInflater::Decoder;
using Result = Decoder::Result;

// What one coding may make before the next one takes it.
constexpr qint64 intermediateBytes = 64 * 1024;

class ZlibDecoder final : public Decoder {
public:
    // gzip comes as gzip or zlib, deflate as zlib or raw: servers send both.
    enum class Wrapping { gzipOrZlib, zlibOrRaw };

    explicit ZlibDecoder(Wrapping wrapping)
    {
        if (wrapping == Wrapping::gzipOrZlib)
            start(MAX_WBITS + 32);
    }
    ~ZlibDecoder() override
    {
        if (m_started)
            inflateEnd(&m_stream);
    }

    Result run(const uchar *&in, size_t &inLeft, uchar *&out, size_t &outLeft) override
    {
        if (m_ended)
            return trailer(in, inLeft);
        if (!m_started) {
            // The first two bytes tell a zlib header from raw deflate.
            while (m_headSize < 2 && inLeft > 0) {
                m_head[m_headSize++] = *in++;
                --inLeft;
            }
            if (m_headSize < 2)
                return Result::going;
            const unsigned header = unsigned(m_head[0]) << 8 | m_head[1];
            const bool zlib =
                (m_head[0] & 0x0F) == Z_DEFLATED && (m_head[0] >> 4) <= 7 && header % 31 == 0;
            m_trailerAllowed = zlib ? 0 : 4;
            if (!start(zlib ? MAX_WBITS : -MAX_WBITS))
                return Result::malformed;
        }
        if (m_headAt < m_headSize) {
            const uchar *head = m_head + m_headAt;
            size_t headLeft = size_t(m_headSize - m_headAt);
            const Result result = pass(head, headLeft, out, outLeft);
            m_headAt = m_headSize - int(headLeft);
            if (result != Result::going || m_headAt < m_headSize)
                return result == Result::ended ? trailer(in, inLeft) : result;
        }
        return pass(in, inLeft, out, outLeft);
    }

    bool ended() const override { return m_ended; }

private:
    bool start(int windowBits)
    {
        m_started = inflateInit2(&m_stream, windowBits) == Z_OK;
        return m_started;
    }

    Result pass(const uchar *&in, size_t &inLeft, uchar *&out, size_t &outLeft)
    {
        if (!m_started)
            return Result::malformed;
        const uInt inSize = uInt(std::min<size_t>(inLeft, UINT_MAX));
        const uInt outSize = uInt(std::min<size_t>(outLeft, UINT_MAX));
        m_stream.next_in = const_cast<Bytef *>(in);
        m_stream.avail_in = inSize;
        m_stream.next_out = out;
        m_stream.avail_out = outSize;
        const int status = inflate(&m_stream, Z_NO_FLUSH);
        in += inSize - m_stream.avail_in;
        inLeft -= inSize - m_stream.avail_in;
        out += outSize - m_stream.avail_out;
        outLeft -= outSize - m_stream.avail_out;
        switch (status) {
        case Z_OK:
        case Z_BUF_ERROR: return Result::going;
        case Z_STREAM_END: m_ended = true; return trailer(in, inLeft);
        default: return Result::malformed;
        }
    }

    // After its end a raw stream may have a few bytes of a trailer it does
    // not know of; nothing else may follow.
    Result trailer(const uchar *&in, size_t &inLeft)
    {
        const size_t tolerated = std::min<size_t>(inLeft, size_t(m_trailerAllowed));
        m_trailerAllowed -= int(tolerated);
        in += tolerated;
        inLeft -= tolerated;
        return inLeft > 0 ? Result::malformed : Result::ended;
    }

    z_stream m_stream{};
    bool m_started = false;
    bool m_ended = false;
    uchar m_head[2] = {};
    int m_headSize = 0;
    int m_headAt = 0;
    int m_trailerAllowed = 0;
};

class BrotliDecoder final : public Decoder {
public:
    ~BrotliDecoder() override
    {
        if (m_state)
            BrotliDecoderDestroyInstance(m_state);
    }

    Result run(const uchar *&in, size_t &inLeft, uchar *&out, size_t &outLeft) override
    {
        if (!m_state)
            return Result::malformed;
        if (m_ended)
            return inLeft > 0 ? Result::malformed : Result::ended;
        switch (BrotliDecoderDecompressStream(m_state, &inLeft, &in, &outLeft, &out, nullptr)) {
        case BROTLI_DECODER_RESULT_SUCCESS:
            m_ended = true;
            return inLeft > 0 ? Result::malformed : Result::ended;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT: return Result::going;
        default: return Result::malformed;
        }
    }

    bool ended() const override { return m_ended; }

private:
    BrotliDecoderState *m_state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    bool m_ended = false;
};

class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder()
    {
        // The window HTTP's zstd coding allows (8 MiB): a frame that asks
        // for more is refused rather than given the memory.
        if (m_context)
            ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, 23);
    }
    ~ZstdDecoder() override { ZSTD_freeDCtx(m_context); }

    Result run(const uchar *&in, size_t &inLeft, uchar *&out, size_t &outLeft) override
    {
        if (!m_context)
            return Result::malformed;
        ZSTD_inBuffer input{in, inLeft, 0};
        ZSTD_outBuffer output{out, outLeft, 0};
        const size_t hint = ZSTD_decompressStream(m_context, &output, &input);
        in += input.pos;
        inLeft -= input.pos;
        out += output.pos;
        outLeft -= output.pos;
        if (ZSTD_isError(hint))
            return Result::malformed;
        // Frames may follow one another; the body ends where one does.
        if (input.pos > 0 || output.pos > 0)
            m_ended = hint == 0;
        return m_ended ? Result::ended : Result::going;
    }

    bool ended() const override { return m_ended; }

private:
    ZSTD_DCtx *m_context = ZSTD_createDCtx();
    bool m_ended = false;
};

} // namespace

struct BodyInflater::Stage {
    std::unique_ptr<Decoder> decoder;
    // What the coding before it made (the body as it came, for the first),
    // from `inputAt`.
    QByteArray input;
    qsizetype inputAt = 0;
    // It filled the room it was given, and may hold more without input.
    bool outputFull = false;

    qsizetype pending() const { return input.size() - inputAt; }

    void compact()
    {
        if (inputAt == 0)
            return;
        input.remove(0, inputAt);
        inputAt = 0;
    }
};

BodyInflater::BodyInflater() = default;
BodyInflater::~BodyInflater() = default;

std::unique_ptr<BodyInflater> BodyInflater::forCodings(const QByteArray &contentEncoding)
{
    QList<QByteArray> names;
    for (const QByteArray &part : contentEncoding.split(',')) {
        const QByteArray name = part.trimmed().toLower();
        if (!name.isEmpty())
            names.append(name);
    }
    std::unique_ptr<BodyInflater> inflater(new BodyInflater);
    if (names.size() > maximumCodings) {
        inflater->m_failure = tooManyCodingsText;
        return inflater;
    }
    // The last coding named was applied last: it is undone first.
    for (auto name = names.crbegin(); name != names.crend(); ++name) {
        std::unique_ptr<Decoder> decoder;
        if (*name == "identity")
            continue;
        if (*name == "gzip" || *name == "x-gzip")
            decoder = std::make_unique<ZlibDecoder>(ZlibDecoder::Wrapping::gzipOrZlib);
        else if (*name == "deflate")
            decoder = std::make_unique<ZlibDecoder>(ZlibDecoder::Wrapping::zlibOrRaw);
        else if (*name == "br")
            decoder = std::make_unique<BrotliDecoder>();
        else if (*name == "zstd")
            decoder = std::make_unique<ZstdDecoder>();
        if (!decoder) {
            inflater->m_stages.clear();
            inflater->m_failure = unknownCodingText;
            return inflater;
        }
        inflater->m_stages.emplace_back();
        inflater->m_stages.back().decoder = std::move(decoder);
    }
    if (inflater->m_stages.empty())
        return nullptr;
    return inflater;
}

void BodyInflater::take(const char *data, qsizetype size)
{
    m_tookAny = m_tookAny || size > 0;
    if (m_stages.empty() || size <= 0)
        return;
    Stage &first = m_stages.front();
    first.compact();
    first.input.append(data, size);
}

bool BodyInflater::inflate(QByteArray &out, qint64 room)
{
    if (!m_failure.isEmpty())
        return false;
    const int last = int(m_stages.size()) - 1;
    qint64 made = 0;
    // From the last coding to the first: each drains what the one before
    // made before that one makes more.
    for (bool moved = true; moved;) {
        moved = false;
        for (int i = last; i >= 0; --i) {
            Stage &stage = m_stages[size_t(i)];
            if (stage.pending() == 0 && !stage.outputFull)
                continue;
            Stage *next = i < last ? &m_stages[size_t(i) + 1] : nullptr;
            const qint64 space = next ? intermediateBytes - next->pending() : room - made;
            if (space <= 0)
                continue;
            if (next)
                next->compact();
            QByteArray &target = next ? next->input : out;
            const qsizetype at = target.size();
            target.resize(at + qsizetype(space));
            const uchar *in =
                reinterpret_cast<const uchar *>(stage.input.constData()) + stage.inputAt;
            size_t inLeft = size_t(stage.pending());
            uchar *into = reinterpret_cast<uchar *>(target.data()) + at;
            size_t outLeft = size_t(space);
            const Result result = stage.decoder->run(in, inLeft, into, outLeft);
            const qint64 produced = space - qint64(outLeft);
            const qsizetype used = stage.pending() - qsizetype(inLeft);
            target.resize(at + qsizetype(produced));
            stage.inputAt += used;
            if (stage.pending() == 0) {
                // Its memory is kept for what comes next.
                stage.input.resize(0);
                stage.inputAt = 0;
            }
            if (result == Result::malformed) {
                m_failure = malformedText;
                return false;
            }
            stage.outputFull = outLeft == 0;
            if (!next)
                made += produced;
            moved = moved || used > 0 || produced > 0;
        }
    }
    return true;
}

bool BodyInflater::holdsInput() const
{
    return std::any_of(m_stages.begin(), m_stages.end(),
                       [](const Stage &stage) { return stage.pending() > 0 || stage.outputFull; });
}

bool BodyInflater::ended() const
{
    return m_failure.isEmpty() &&
           std::all_of(m_stages.begin(), m_stages.end(),
                       [](const Stage &stage) { return stage.decoder->ended(); }) &&
           !holdsInput();
}

} // namespace corvane

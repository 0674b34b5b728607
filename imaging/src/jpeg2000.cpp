// JPEG 2000 decoding through OpenJPEG, from a memory buffer.

#include "decodeahead.h"
#include "internal.h"
#include "openjpegstream.h"

#include <cstring>

namespace imaging::detail {

namespace {

struct MemoryStream
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t pos;
};

OPJ_SIZE_T ReadFn(void *buffer, OPJ_SIZE_T n, void *user)
{
    auto *m = static_cast<MemoryStream *>(user);
    if (m->pos >= m->size)
        return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t k = std::min<std::size_t>(n, m->size - m->pos);
    std::memcpy(buffer, m->data + m->pos, k);
    m->pos += k;
    return k;
}

OPJ_OFF_T SkipFn(OPJ_OFF_T n, void *user)
{
    auto *m = static_cast<MemoryStream *>(user);
    if (n < 0) {
        const std::size_t back = static_cast<std::size_t>(-n);
        m->pos = back > m->pos ? 0 : m->pos - back;
        return n;
    }
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), m->size - std::min(m->pos, m->size));
    m->pos += k;
    return static_cast<OPJ_OFF_T>(k);
}

OPJ_BOOL SeekFn(OPJ_OFF_T n, void *user)
{
    auto *m = static_cast<MemoryStream *>(user);
    if (n < 0 || static_cast<std::size_t>(n) > m->size)
        return OPJ_FALSE;
    m->pos = static_cast<std::size_t>(n);
    return OPJ_TRUE;
}

void Quiet(const char *, void *) {}

} // namespace

opj_stream_t *OpenJpegMemoryStream(const std::uint8_t *data, std::size_t size)
{
    opj_stream_t *stream = opj_stream_create(64 * 1024, OPJ_TRUE);
    if (!stream)
        return nullptr;
    opj_stream_set_user_data(stream, new MemoryStream{data, size, 0},
                             [](void *user) { delete static_cast<MemoryStream *>(user); });
    opj_stream_set_user_data_length(stream, size);
    opj_stream_set_read_function(stream, ReadFn);
    opj_stream_set_skip_function(stream, SkipFn);
    opj_stream_set_seek_function(stream, SeekFn);
    return stream;
}

J2kImage DecodeJpeg2000(const std::uint8_t *data, std::size_t size, std::uint64_t maxBytes)
{
    if (size < 4)
        throw DicomError(QStringLiteral("Données JPEG 2000 trop courtes."));
    // A JP2 file starts with its signature box; anything else is taken as a bare code stream.
    const bool jp2 = data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 0x0C;
    opj_codec_t *codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!codec)
        throw DicomError(QStringLiteral("Décodeur JPEG 2000 indisponible."));
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_stream_t *stream = OpenJpegMemoryStream(data, size);
    if (!stream) {
        opj_destroy_codec(codec);
        throw DicomError(QStringLiteral("Décodeur JPEG 2000 indisponible."));
    }
    opj_image_t *image = nullptr;
    auto cleanup = [&] {
        if (image)
            opj_image_destroy(image);
        opj_stream_destroy(stream);
        opj_destroy_codec(codec);
    };
    // Code blocks are decoded side by side on every core (a background decoding thread
    // keeps to its own); without thread support in the library, one thread decodes.
    const int threads = Jpeg2000Threads();
    const bool setUp = opj_setup_decoder(codec, &params);
    if (setUp && threads > 1 && opj_has_thread_support())
        opj_codec_set_threads(codec, threads);
    if (!setUp || !opj_read_header(stream, codec, &image) || !image) {
        cleanup();
        throw DicomError(QStringLiteral("En-tête JPEG 2000 illisible."));
    }
    // Refuse before decoding what the caller's pixel description cannot justify.
    const std::uint64_t w = image->x1 > image->x0 ? image->x1 - image->x0 : 0;
    const std::uint64_t h = image->y1 > image->y0 ? image->y1 - image->y0 : 0;
    if (w == 0 || h == 0 || image->numcomps == 0 || image->numcomps > 4
        || w * h * image->numcomps * 4 > maxBytes * 4 + 1024 * 1024 || w > 65535 || h > 65535) {
        cleanup();
        throw DicomError(QStringLiteral("Image JPEG 2000 de taille incohérente."));
    }
    if (!opj_decode(codec, stream, image) || !opj_end_decompress(codec, stream)) {
        cleanup();
        throw DicomError(QStringLiteral("Décompression JPEG 2000 impossible."));
    }
    J2kImage out;
    out.width = static_cast<int>(image->comps[0].w);
    out.height = static_cast<int>(image->comps[0].h);
    out.components = static_cast<int>(image->numcomps);
    out.precision = static_cast<int>(image->comps[0].prec);
    out.isSigned = image->comps[0].sgnd != 0;
    const std::size_t n = static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
        const opj_image_comp_t &comp = image->comps[c];
        if (comp.w != image->comps[0].w || comp.h != image->comps[0].h || !comp.data) {
            cleanup();
            throw DicomError(QStringLiteral("Composantes JPEG 2000 sous-échantillonnées non prises en charge."));
        }
        out.planes.emplace_back(comp.data, comp.data + n);
    }
    cleanup();
    return out;
}

} // namespace imaging::detail

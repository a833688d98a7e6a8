#include "conversion.hpp"

#include "record_line.hpp"
#include "record_reader.hpp"

#include <bit>

namespace {

// The most that one piece adds to the target block, the decoder's spill included.
constexpr std::size_t kPieceBytesMax = (kMaxPieceSize - 1) / 2 + 8;
static_assert(kBytesOverwrite <= 8);
static_assert(kTargetBlockMinimum > kPieceBytesMax);

bool WriteBlock(std::FILE *target, const std::uint8_t *bytes, std::size_t size)
{
    return std::fwrite(bytes, 1, size, target) == size;
}

// The common piece in a single pass: a colon, then characters up to a line
// feed within the piece's 255, no NUL among them, the whole of it in the
// block. Each 16 characters are loaded once, searched for the line feed and
// decoded together. Gives false, having taken nothing, for any other piece,
// which then goes the general way; so does every piece on machines without
// vectors. May write up to 8 bytes past the piece's own into bytes.
// Inlined by force so that it takes on the AVX2 form with its caller.
[[gnu::always_inline]] inline bool TakeDecodedPiece(const PairDecoder &decoder, RecordReader &reader,
                                                    RecordPiece &piece, std::uint8_t *bytes)
{
#if defined(__SSE2__)
    const char *start = reader.block + reader.begin;
    // With a whole piece's worth of characters at hand, the piece lies in the
    // block wherever it ends, and the loads below stay within its padding.
    if (reader.end - reader.begin <= kMaxPieceSize || start[0] != ':') {
        return false;
    }
    const char *pairs = start + 1;
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    // A piece's line feed can stand at most this far behind the colon.
    constexpr std::size_t kLastStop = kMaxPieceSize - 2;
    for (std::size_t at = 0; at <= kLastStop; at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + at));
        const auto stops = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, line_feed), _mm_cmpeq_epi8(chunk, nul))));
        hex_pairs::StoreEight(decoder, pairs + at, bytes + at / 2);
        if (stops != 0) {
            const std::size_t stop = at + static_cast<std::size_t>(std::countr_zero(stops));
            if (stop > kLastStop || pairs[stop] != '\n') {
                return false;
            }
            piece = {start, stop + 2, stop + 2};
            reader.begin += piece.size;
            return true;
        }
    }
    return false;
#else
    (void)decoder;
    (void)reader;
    (void)piece;
    (void)bytes;
    return false;
#endif
}

} // namespace

// The same code built twice where the compiler can, the second time for
// machines with AVX2, chosen once at start-up: its three-operand forms of the
// vector instructions save the copies that SSE2's two-operand forms need.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
Conversion
ConvertRecords(int source, std::FILE *target, ConversionBuffers buffers, std::uint32_t limit)
{
    RecordReader reader{source, buffers.source_block.data(), buffers.source_block.size()};
    std::uint8_t *const bytes = buffers.target_block.data();
    // Past this the next piece might not fit.
    const std::size_t flush_at = buffers.target_block.size() - kPieceBytesMax;
    std::size_t used = 0;
    Conversion result;
    const PairDecoder decoder;

    while (result.outcome == ConversionOutcome::kConverted) {
        for (;;) {
            RecordPiece piece;
            const bool decoded = TakeDecodedPiece(decoder, reader, piece, bytes + used);
            if (!decoded && !TakeRecordPiece(reader, piece)) {
                break;
            }
            if (piece.data[0] != ':') {
                result.outcome = ConversionOutcome::kBadLine;
                break;
            }
            // The colon is no NUL, so the length is at least 1.
            const std::size_t count = (piece.length - 1) / 2;
            if (count > limit - result.total) {
                result.outcome = ConversionOutcome::kTooLarge;
                break;
            }
            if (!decoded) {
                ConvertHexPairsToBytesPadded(decoder, piece.data + 1, count, bytes + used);
            }
            used += count;
            result.total += static_cast<std::uint32_t>(count);
            if (used > flush_at) {
                if (!WriteBlock(target, bytes, used)) {
                    result.outcome = ConversionOutcome::kTargetNotWritten;
                    return result;
                }
                used = 0;
            }
        }
        if (result.outcome != ConversionOutcome::kConverted || reader.ended) {
            break;
        }
        if (RefillRecordReader(reader) == RefillResult::kFailed) {
            result.outcome = ConversionOutcome::kSourceNotRead;
        }
    }
    // Whatever else went wrong, the pieces accepted before it belong in the target.
    if (!WriteBlock(target, bytes, used) && result.outcome == ConversionOutcome::kConverted) {
        result.outcome = ConversionOutcome::kTargetNotWritten;
    }
    return result;
}

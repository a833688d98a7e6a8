#include "conversion.hpp"

#include "descriptor_io.hpp"
#include "record_line.hpp"
#include "record_reader.hpp"
#include "vector_units.hpp"

#include <algorithm>

namespace {

// The most that one piece adds to the target block, a run's spill included.
constexpr std::size_t kPieceBytesMax = (kMaxPieceSize - 1) / 2 + kPlainRunSpill;
static_assert(kTargetBlockMinimum > kPieceBytesMax);

// Past flush_at the next piece might not fit: the block goes out and starts
// again empty.
bool WriteBlockWhenFull(int target, const std::uint8_t *bytes, std::size_t &used, std::size_t flush_at)
{
    if (used <= flush_at) {
        return true;
    }
    const bool written = WriteAll(target, bytes, used);
    used = 0;
    return written;
}

} // namespace

Conversion ConvertCheckedBlocks(int source, int target, CheckedBlocks buffers, std::uint32_t limit,
                                VectorUnit unit)
{
    RecordReader reader{source, buffers.source_block.data(), buffers.source_block.size()};
    const UnitSteps &steps = kVectorUnits[static_cast<std::size_t>(unit)].steps;
    std::uint8_t *const bytes = buffers.target_block.data();
    const std::size_t flush_at = buffers.target_block.size() - kPieceBytesMax;
    std::size_t used = 0;
    Conversion result;

    while (result.outcome == ConversionOutcome::kConverted) {
        for (;;) {
            // Plain pieces in bulk while they fit the block and stay a whole
            // piece short of the limit; every check near the limit is exact below.
            const std::size_t to_limit = limit - result.total;
            if (to_limit > kPieceBytesMax) {
                const PlainRun run =
                    DecodePlainPieces(unit, UnreadRecordChars(reader), UnreadRecordCount(reader),
                                      bytes + used, std::min(flush_at - used, to_limit - kPieceBytesMax));
                ConsumeRecordChars(reader, run.chars);
                used += run.bytes;
                result.total += static_cast<std::uint32_t>(run.bytes);
            }
            if (!WriteBlockWhenFull(target, bytes, used, flush_at)) {
                result.outcome = ConversionOutcome::kTargetNotWritten;
                return result;
            }

            // Then one piece the general path, as a line of its own.
            RecordPiece piece;
            if (!TakeRecordPiece(reader, piece)) {
                break;
            }
            if (piece.data[0] != ':') {
                result.outcome = ConversionOutcome::kBadLine;
                break;
            }
            // Decoded in place into the block, which has room for a whole
            // piece: a piece past the limit is written there and not counted.
            const std::uint8_t count = ConvertHexPieceToBytes(steps, piece.data, piece.size, bytes + used);
            if (count > limit - result.total) {
                result.outcome = ConversionOutcome::kTooLarge;
                break;
            }
            used += count;
            result.total += count;
            if (!WriteBlockWhenFull(target, bytes, used, flush_at)) {
                result.outcome = ConversionOutcome::kTargetNotWritten;
                return result;
            }
        }
        if (result.outcome != ConversionOutcome::kConverted || reader.ended) {
            break;
        }
        if (RefillRecordReader(reader) == RefillResult::kFailed) {
            result.outcome = ConversionOutcome::kSourceNotRead;
        }
    }
    // Whatever else went wrong, the pieces accepted before it belong in the
    // target; when they cannot go there, that is what the caller must hear.
    if (!WriteAll(target, bytes, used)) {
        result.outcome = ConversionOutcome::kTargetNotWritten;
    }
    return result;
}

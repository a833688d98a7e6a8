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

// Writes the block out once it is past flush_at, where the next piece might
// not fit, and starts it again empty.
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

Conversion ConvertRecords(int source, int target, std::span<char> source_block,
                          std::span<std::uint8_t> target_block, std::uint32_t limit, VectorUnit unit)
{
    RecordReader reader{source, source_block.data(), source_block.size()};
    const UnitSteps &steps = kVectorUnits[static_cast<std::size_t>(unit)].steps;
    std::uint8_t *const bytes = target_block.data();
    const std::size_t flush_at = target_block.size() - kPieceBytesMax;
    std::size_t used = 0;
    Conversion result;

    for (;;) {
        // Plain pieces in bulk, stopping a whole piece short of the limit so
        // that only the general path below has to check it.
        const std::size_t to_limit = limit - result.total;
        if (to_limit > kPieceBytesMax) {
            const PlainRun run =
                DecodePlainPieces(unit, UnreadRecordChars(reader), UnreadRecordCount(reader), bytes + used,
                                  std::min(flush_at - used, to_limit - kPieceBytesMax));
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
            if (reader.ended) {
                break;
            }
            if (!RefillRecordReader(reader)) {
                result.outcome = ConversionOutcome::kSourceNotRead;
                break;
            }
            continue;
        }
        if (piece.data[0] != ':') {
            result.outcome = ConversionOutcome::kBadLine;
            break;
        }
        // Decoded into the block before the limit is checked, and not
        // counted when it would pass it.
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
    // The bytes of the pieces accepted before any failure still go to the
    // target (Matrix/Inject.StatusMessageAndTarget/read2_EIO0).
    if (!WriteAll(target, bytes, used)) {
        result.outcome = ConversionOutcome::kTargetNotWritten;
    }
    return result;
}

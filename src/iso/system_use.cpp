#include "iso/system_use.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

#include "base/console_log.h"
#include "iso/image_source.h"
#include "iso/limits.h"

namespace system_use {

namespace {

namespace rec = iso_record;
namespace sig = iso_record::susp_signature;

// The times a TF entry written here holds: modification, access, attribute change.
constexpr uint8_t kTimesWritten =
    rec::rr_times::kModify | rec::rr_times::kAccess | rec::rr_times::kAttributes;
constexpr size_t kTimesWrittenCount = 3;
// A TF date's years since 1900 take one byte.
constexpr int kMaxShortDateYear = 255;

bool is(const uint8_t* entry, const char* signature) {
    return rec::decodeSuspHeader(entry).is(signature);
}

// Calls `visit(entry, length)` for each whole entry of `bytes`; stops at a length that
// cannot be one (the rest is padding).
template <typename Visit>
void forEachEntry(const uint8_t* bytes, size_t size, Visit visit) {
    for (size_t at = 0; at + kEntryHeader <= size;) {
        const size_t length = rec::decodeSuspHeader(bytes + at).length;
        if (length < kEntryHeader || length > size - at) {
            return;
        }
        if (!visit(bytes + at, length)) {
            return;
        }
        at += length;
    }
}

rec::ShortDate shortDate(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    rec::ShortDate date;
    date.yearsSince1900 = static_cast<uint8_t>(std::clamp(utc.tm_year, 0, kMaxShortDateYear));
    date.month = static_cast<uint8_t>(utc.tm_mon + 1);
    date.day = static_cast<uint8_t>(utc.tm_mday);
    date.hour = static_cast<uint8_t>(utc.tm_hour);
    date.minute = static_cast<uint8_t>(utc.tm_min);
    date.second = static_cast<uint8_t>(utc.tm_sec);
    date.gmtOffset = 0;  // GMT
    return date;
}

void appendTimes(std::vector<uint8_t>& out, std::time_t modified) {
    rec::Timestamps times;
    times.flags = kTimesWritten;
    times.dates.assign(kTimesWrittenCount, shortDate(modified));
    rec::encodeTimestamps(times, out);
}

// NM entries for `name`: a name longer than one entry holds goes into several, each but
// the last marked as continued.
std::vector<uint8_t> nameEntries(const std::string& name) {
    std::vector<uint8_t> out;
    for (size_t at = 0; at < name.size();) {
        const size_t piece = std::min(name.size() - at, rec::rr_name::kMaxPiece);
        rec::AlternateName entry;
        entry.flags = at + piece < name.size() ? rec::rr_name::kContinues : 0;
        entry.piece = name.substr(at, piece);
        rec::encodeAlternateName(entry, out);
        at += piece;
    }
    return out;
}

// Where the entries of a field go on, for the checks a hostile image calls for.
struct ContinuationWalk {
    ImageSource& image;
    uint32_t blockSize;
    uint64_t& budget;
    const std::string& where;
    std::set<std::pair<uint64_t, uint64_t>> visited;
    unsigned areas = 0;
};

// The byte at which the continuation area `next` starts in the image, or a
// std::runtime_error for one past the end of the image or larger than a block, a loop,
// one too many, or a spent budget.
uint64_t checkedArea(ContinuationWalk& walk, const rec::Continuation& next) {
    const std::string areaText =
        formatText("%s: the System Use continuation area at block %u, byte %u (%u bytes)",
                   walk.where.c_str(), next.block, next.offset, next.length);
    if (++walk.areas > iso_limits::kMaxContinuationAreas) {
        throw std::runtime_error(
            formatText("%s: more than %u System Use continuation areas follow one another",
                       walk.where.c_str(), iso_limits::kMaxContinuationAreas));
    }
    if (!walk.visited.insert({next.block, next.offset}).second) {
        throw std::runtime_error(areaText + " continues itself (a loop of continuations)");
    }
    if (next.length > walk.blockSize || uint64_t{next.offset} + next.length > walk.blockSize) {
        throw std::runtime_error(areaText + " does not lie within one block");
    }
    const uint64_t start = uint64_t{next.block} * walk.blockSize + next.offset;
    if (!walk.image.contains(start, next.length)) {
        throw std::runtime_error(formatText("%s lies past the end of the image (%" PRIu64 " bytes)",
                                            areaText.c_str(), walk.image.size()));
    }
    walk.budget += next.length;
    if (walk.budget > walk.image.size()) {
        throw std::runtime_error(areaText +
                                 ": the continuation areas read so far exceed the "
                                 "image; they repeat");
    }
    return start;
}

}  // namespace

bool startsWithSusp(const uint8_t* field, size_t size) {
    if (size < rec::susp_indicator::kSize) {
        return false;
    }
    const rec::SuspIndicator indicator = rec::decodeSuspIndicator(field);
    return indicator.header.is(sig::kIndicator) &&
           indicator.header.length == rec::susp_indicator::kSize &&
           std::equal(indicator.check.begin(), indicator.check.end(),
                      std::begin(rec::susp_indicator::kCheckBytes));
}

std::vector<uint8_t> gather(ImageSource& image, const uint8_t* field, size_t size, bool susp,
                            uint32_t blockSize, uint64_t& budget, const std::string& where) {
    if (!susp) {
        return std::vector<uint8_t>(field, field + size);
    }
    std::vector<uint8_t> entries;
    ContinuationWalk walk{image, blockSize, budget, where, {}, 0};
    std::vector<uint8_t> area(field, field + size);
    for (;;) {
        bool more = false;
        rec::Continuation next;
        forEachEntry(area.data(), area.size(), [&](const uint8_t* entry, size_t entryLength) {
            if (is(entry, sig::kTerminator)) {
                return false;
            }
            if (is(entry, sig::kContinuation) && entryLength >= kContinuationLength) {
                more = true;
                next = rec::decodeContinuation(entry);
            } else if (!is(entry, sig::kPadding)) {
                entries.insert(entries.end(), entry, entry + entryLength);
            }
            return true;
        });
        if (!more) {
            return entries;
        }
        const uint64_t start = checkedArea(walk, next);
        area.resize(next.length);
        image.read(start, area.data(), area.size());
    }
}

Split split(const std::vector<uint8_t>& entries, size_t base, uint32_t blockSize) {
    Split out;
    const size_t room = kMaxRecordLength - 1 - base;  // an even record length
    if (entries.size() <= room) {
        out.inRecord = entries;
        return out;
    }
    if (room < kContinuationLength) {
        return out;  // no room for a continuation: the field is left out
    }
    std::vector<uint8_t>* current = &out.inRecord;
    size_t limit = room - kContinuationLength;
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t length) {
        if (current->size() + length > limit) {
            out.areas.emplace_back();
            current = &out.areas.back();
            limit = blockSize - kContinuationLength;
        }
        current->insert(current->end(), entry, entry + length);
        return true;
    });
    // The last area has no CE after it: its entries may use that room too; the CE space
    // of the others is added by encode.
    return out;
}

size_t fieldLength(const Split& split, size_t base) {
    size_t length = split.inRecord.size() + (split.areas.empty() ? 0 : kContinuationLength);
    if ((base + length) % 2 != 0) {
        ++length;
    }
    return length;
}

void encode(Split& split, uint32_t firstBlock, size_t base, uint8_t* field) {
    const size_t length = fieldLength(split, base);
    std::memset(field, 0, length);
    if (!split.inRecord.empty()) {
        std::memcpy(field, split.inRecord.data(), split.inRecord.size());
    }
    if (split.areas.empty()) {
        return;
    }
    auto areaLength = [&](size_t i) {
        return split.areas[i].size() + (i + 1 < split.areas.size() ? kContinuationLength : 0);
    };
    rec::encodeContinuation({firstBlock, 0, static_cast<uint32_t>(areaLength(0))},
                            field + split.inRecord.size());
    for (size_t i = 0; i + 1 < split.areas.size(); ++i) {
        std::vector<uint8_t>& area = split.areas[i];
        const size_t at = area.size();
        area.resize(at + kContinuationLength);
        rec::encodeContinuation({firstBlock + static_cast<uint32_t>(i + 1), 0,
                                 static_cast<uint32_t>(areaLength(i + 1))},
                                area.data() + at);
    }
}

std::vector<uint8_t> withDirectoryLinks(const std::vector<uint8_t>& entries,
                                        const std::function<uint32_t(uint32_t)>& moved) {
    std::vector<uint8_t> out = entries;
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t length) {
        if ((is(entry, sig::kChildLink) || is(entry, sig::kParentLink)) &&
            length >= rec::rr_link::kSize) {
            rec::encodeDirectoryLink(moved(rec::decodeDirectoryLink(entry)),
                                     out.data() + (entry - entries.data()));
        }
        return true;
    });
    return out;
}

bool hasRockRidge(const std::vector<uint8_t>& entries) {
    bool found = false;
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t) {
        found = is(entry, sig::kRockRidge) || is(entry, sig::kPosixAttributes) ||
                is(entry, sig::kAlternateName);
        return !found;
    });
    return found;
}

std::vector<uint8_t> rockRidgeEntries(uint32_t mode, const std::string& name,
                                      std::time_t modified) {
    std::vector<uint8_t> out;
    rec::PosixAttributes attributes;
    attributes.mode = mode;
    attributes.links = 1;
    rec::encodePosixAttributes(attributes, out);
    const std::vector<uint8_t> nm = nameEntries(name);
    out.insert(out.end(), nm.begin(), nm.end());
    appendTimes(out, modified);
    return out;
}

std::vector<uint8_t> withTimes(const std::vector<uint8_t>& entries, std::time_t modified,
                               const std::string& name) {
    std::vector<uint8_t> out;
    if (!name.empty()) {
        out = nameEntries(name);
    }
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t length) {
        if (!is(entry, sig::kTimestamps) && (name.empty() || !is(entry, sig::kAlternateName))) {
            out.insert(out.end(), entry, entry + length);
        }
        return true;
    });
    appendTimes(out, modified);
    return out;
}

}  // namespace system_use
